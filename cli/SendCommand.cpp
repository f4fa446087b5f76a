#include "cli/SendCommand.h"

#include "cli/Arguments.h"

#include "common/ProgramFolder.h"
#include "mail/WireMessage.h"
#include "mailer/SendRun.h"
#include "net/SMTPWire.h"

#include <QDir>
#include <QFileInfo>

namespace og::cli {

namespace {

ExitStatus run(const QStringList& args);

QString absolute(const QString& path)
{
    return path.isEmpty() ? path : QFileInfo(path).absoluteFilePath();
}

} // namespace

const Command sendCommand = {
    "send",
    "send the notification message to every customer of an address file",
    &run,
};

bool parseSendArguments(const QStringList& args, SendArguments* out, QString* error)
{
    *out = SendArguments();
    QStringList operands;
    ArgumentParser parser;
    bool haveSubject = false, haveBody = false, haveDir = false;
    parser.value(QStringLiteral("--subject"), &out->subject, &haveSubject);
    parser.value(QStringLiteral("--body-file"), &out->bodyFile, &haveBody);
    parser.values(QStringLiteral("--attach"), &out->attachments);
    parser.value(QStringLiteral("--signature"), &out->signature);
    parser.value(QStringLiteral("--from"), &out->from, &out->haveFrom);
    parser.value(QStringLiteral("--org"), &out->org, &out->haveOrg);
    parser.value(QStringLiteral("--server"), &out->server, &out->haveServer);
    parser.value(QStringLiteral("--dir"), &out->dir, &haveDir);
    parser.flag(QStringLiteral("--no-copy"), &out->noCopy);
    parser.flag(QStringLiteral("--no-log"), &out->noLog);
    parser.operands(&operands, 1, QStringLiteral("more than one address file given"));
    if (!parser.parse(args, error))
        return false;
    out->help = parser.helpAsked();
    if (out->help)
        return true;
    if (operands.isEmpty())
        *error = QStringLiteral("no address file given");
    else if (!haveSubject)
        *error = QStringLiteral("--subject is required");
    else if (!haveBody || out->bodyFile.isEmpty())
        *error = QStringLiteral("--body-file is required");
    else if (haveDir && out->dir.isEmpty())
        *error = QStringLiteral("--dir needs a folder");
    if (!error->isEmpty())
        return false;
    out->addressFile = operands.first();
    return true;
}

namespace {

QString sendUsage()
{
    return QStringLiteral("Usage: ordergate-cli send ADDRESSFILE --subject TEXT --body-file FILE [--attach FILE]...\n"
                          "           [--signature FILE] [--from ADDR] [--org TEXT] [--server HOST[:PORT]]\n"
                          "           [--no-copy] [--no-log] [--dir DIR]\n");
}

} // namespace

QString sendHelpText()
{
    return sendUsage() +
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

namespace {

ExitStatus fail(const QString& message)
{
    printError(message + u'\n');
    return ExitStatus::Failure;
}

ExitStatus run(const QStringList& arguments)
{
    SendArguments args;
    QString error;
    if (!parseSendArguments(arguments, &args, &error))
        return usageError(sendCommand, error, sendUsage());
    if (args.help) {
        printOut(sendHelpText());
        return ExitStatus::Ok;
    }

    QString folder = !args.dir.isEmpty() ? QDir(args.dir).absolutePath() : programFolder();
    if (!folder.endsWith(u'/'))
        folder += u'/';
    const QString settingsPath = settingsPathIn(folder);
    MailerInput input;
    MailerSettings& s = input.settings;
    s.load(settingsPath);
    s.addressFile = absolute(args.addressFile);
    if (args.haveFrom)
        s.sender = args.from;
    if (args.haveOrg)
        s.organisation = args.org;
    if (args.haveServer)
        s.server = args.server;
    if (!args.signature.isEmpty()) {
        s.useSignature = true;
        s.signatureFile = absolute(args.signature);
    }
    s.copyToSelf = s.copyToSelf && !args.noCopy;
    s.wantLog = s.wantLog && !args.noLog;
    input.subject = args.subject;
    for (const QString& path : std::as_const(args.attachments))
        input.attachments << absolute(path);
    input.settingsPath = settingsPath;
    input.programFolder = folder;
    // The command line never changes the vendor's saved sender details.
    input.settingsChanged = false;

    TWireMessage message;
    TWireSMTP smtp;
    configureTransport(message, smtp);
    SendRun run(message, smtp);
    run.setStatusHandler([](const QString& text) {
        if (!text.isEmpty())
            printOut(text + u'\n');
    });

    try {
        input.body = MessageBody(readTextFileLines(args.bodyFile));
        const QString problem = checkMailerInput(input);
        if (!problem.isEmpty())
            return fail(problem);
        run.prepare(input);
        run.send(input);
    } catch (const std::exception& failure) {
        return fail(QString::fromUtf8(failure.what()));
    }
    return ExitStatus::Ok;
}

} // namespace

} // namespace og::cli
