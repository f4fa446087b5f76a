#include "cli/SendCommand.h"

#include "common/ProfileFile.h"
#include "common/ProgramFolder.h"
#include "mail/WireMessage.h"
#include "mailer/SendRun.h"
#include "net/SMTPWire.h"

#include <QDir>
#include <QFileInfo>
#include <QTextStream>

namespace og {

namespace {

struct SendArguments {
    QString addressFile;
    QString subject;
    bool haveSubject = false;
    QString bodyFile;
    QStringList attachments;
    QString signature;
    QString from, org, server, dir;
    bool haveFrom = false, haveOrg = false, haveServer = false, haveDir = false;
    bool noCopy = false, noLog = false;
};

// Fills args from the command line; an error text when it is not usable.
QString parseArguments(const QStringList& arguments, SendArguments& args)
{
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QString& arg = arguments[i];
        const auto value = [&](QString& target) -> bool {
            if (i + 1 >= arguments.size())
                return false;
            target = arguments[++i];
            return true;
        };
        bool ok = true;
        if (arg == QLatin1String("--subject")) {
            ok = value(args.subject);
            args.haveSubject = true;
        } else if (arg == QLatin1String("--body-file")) {
            ok = value(args.bodyFile);
        } else if (arg == QLatin1String("--attach")) {
            QString path;
            ok = value(path);
            args.attachments << path;
        } else if (arg == QLatin1String("--signature")) {
            ok = value(args.signature);
        } else if (arg == QLatin1String("--from")) {
            ok = args.haveFrom = value(args.from);
        } else if (arg == QLatin1String("--org")) {
            ok = args.haveOrg = value(args.org);
        } else if (arg == QLatin1String("--server")) {
            ok = args.haveServer = value(args.server);
        } else if (arg == QLatin1String("--dir")) {
            ok = args.haveDir = value(args.dir);
        } else if (arg == QLatin1String("--no-copy")) {
            args.noCopy = true;
        } else if (arg == QLatin1String("--no-log")) {
            args.noLog = true;
        } else if (arg.startsWith(QLatin1String("--"))) {
            return QStringLiteral("unknown option ") + arg;
        } else if (args.addressFile.isEmpty()) {
            args.addressFile = arg;
        } else {
            return QStringLiteral("more than one address file given");
        }
        if (!ok)
            return QStringLiteral("option ") + arg + QStringLiteral(" needs a value");
    }
    if (args.addressFile.isEmpty())
        return QStringLiteral("no address file given");
    if (!args.haveSubject)
        return QStringLiteral("--subject is required");
    if (args.bodyFile.isEmpty())
        return QStringLiteral("--body-file is required");
    return {};
}


QString absolute(const QString& path)
{
    return path.isEmpty() ? path : QFileInfo(path).absoluteFilePath();
}

} // namespace

QString sendCommandUsage()
{
    return QStringLiteral("Usage: ordergate-cli send ADDRESSFILE --subject TEXT --body-file FILE [--attach FILE]...\n"
                          "           [--signature FILE] [--from ADDR] [--org TEXT] [--server HOST[:PORT]]\n"
                          "           [--no-copy] [--no-log] [--dir DIR]\n");
}

QString sendHelpText()
{
    return sendCommandUsage() +
        QStringLiteral("\n"
                       "Sends the notification message to every customer of an address file\n"
                       "(every line holding \"@\"; the address is the line's text up to its first\n"
                       "blank), one message and one connection per customer, then a copy to the\n"
                       "sender. The same checks, message, log and message.txt as the mailer window.\n"
                       "\n"
                       "  --subject TEXT      the subject (required; blanks only go out as \"None\").\n"
                       "  --body-file FILE    the body, one line per line of the file (required).\n"
                       "  --attach FILE       attach a file (repeatable). Without any, the body is\n"
                       "                      also attached as message.txt, written to DIR.\n"
                       "  --signature FILE    append this signature file to the body.\n"
                       "  --from ADDR         the sender; --org TEXT the organisation;\n"
                       "  --server HOST[:PORT] the SMTP server (port 25 unless given).\n"
                       "  --no-copy           send no copy to the sender.\n"
                       "  --no-log            do not append the run to log.txt (working folder).\n"
                       "  --dir DIR           the program folder: its ordergate.ini gives the sender,\n"
                       "                      organisation, server, signature and switches that are\n"
                       "                      not given here. Default: the folder of this program.\n"
                       "\n"
                       "Status lines go to standard output, ending with \"Message sent to N\n"
                       "customers\". A failed check or send prints its message on standard error\n"
                       "and exits with status 1; a malformed command line exits with 2.\n");
}

int runSendCommand(const QStringList& arguments, QTextStream& out, QTextStream& err)
{
    if (arguments.contains(QLatin1String("--help")) || arguments.contains(QLatin1String("-h"))) {
        out << sendHelpText();
        out.flush();
        return 0;
    }
    SendArguments args;
    const QString usageError = parseArguments(arguments, args);
    if (!usageError.isEmpty()) {
        err << "ordergate-cli send: " << usageError << "\n" << sendCommandUsage();
        err.flush();
        return 2;
    }

    QString folder = args.haveDir ? QDir(args.dir).absolutePath() : programFolder();
    if (!folder.endsWith(u'/'))
        folder += u'/';
    const QString settingsPath = settingsPathIn(folder);
    const ProfileReader settings(settingsPath);
    const QString user = QStringLiteral("user");
    const QString options = QStringLiteral("options");

    MailerInput input;
    input.addressFile = absolute(args.addressFile);
    input.sender = args.haveFrom ? args.from : settings.readString(user, QStringLiteral("email"), {});
    input.organisation = args.haveOrg ? args.org : settings.readString(user, QStringLiteral("company"), {});
    input.server = args.haveServer ? args.server : settings.readString(user, QStringLiteral("server"), {});
    input.subject = args.subject;
    for (const QString& path : std::as_const(args.attachments))
        input.attachments << absolute(path);
    if (!args.signature.isEmpty()) {
        input.useSignature = true;
        input.signatureFile = absolute(args.signature);
    } else {
        input.useSignature = settings.readBool(options, QStringLiteral("sigfile"), false);
        input.signatureFile = settings.readString(options, QStringLiteral("signame"), {});
    }
    input.copyToSelf = !args.noCopy && settings.readBool(options, QStringLiteral("audit"), true);
    input.wantLog = !args.noLog && settings.readBool(options, QStringLiteral("log"), true);
    input.settingsPath = settingsPath;
    input.programFolder = folder;
    // The command line never changes the vendor's saved sender details.
    input.settingsChanged = false;

    TWireMessage message;
    TWireSMTP smtp;
    configureTransport(message, smtp);
    SendRun run(message, smtp);
    run.setStatusHandler([&out](const QString& text) {
        if (!text.isEmpty()) {
            out << text << "\n";
            out.flush();
        }
    });

    try {
        const QStringList body = readTextFileLines(args.bodyFile);
        input.bodyLines = body;
        input.bodyText = body.join(u'\n');
        const QString problem = checkMailerInput(input);
        if (!problem.isEmpty()) {
            err << problem << "\n";
            err.flush();
            return 1;
        }
        const QStringList signature = run.prepare(input);
        input.bodyLines += signature;
        input.bodyText = appendTextLines(input.bodyText, signature);
        run.send(input);
    } catch (const std::exception& error) {
        err << QString::fromUtf8(error.what()) << "\n";
        err.flush();
        return 1;
    }
    return 0;
}

namespace cli {
namespace {
int runFromMain(const QStringList& args)
{
    QTextStream out(stdout);
    QTextStream err(stderr);
    out.setEncoding(QStringConverter::Utf8);
    err.setEncoding(QStringConverter::Utf8);
    return runSendCommand(args, out, err);
}
} // namespace

const Command sendCommand = {
    "send",
    "send the notification message to every customer of an address file",
    &runFromMain,
};
} // namespace cli

} // namespace og
