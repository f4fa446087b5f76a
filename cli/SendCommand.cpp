#include "cli/SendCommand.h"

#include "cli/Arguments.h"
#include "cli/SignIn.h"

#include "common/ProgramFolder.h"
#include "mailer/MailerSettings.h"
#include "mailer/send/InputChecks.h"
#include "mailer/send/SendRun.h"
#include "mailer/signin/AccessTokenSource.h"
#include "mailer/signin/OAuthProvider.h"
#include "platform/QtKeyring.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

namespace og::cli {

namespace {

ExitStatus run(const QStringList& args);

constexpr int MaxTimeoutSeconds = 86400;

// 32 bytes in hexadecimal, in pairs optionally separated by colons, as
// OpenSSL and most tools print a certificate's SHA-256.
bool isFingerprint(const QString& text)
{
    static const QRegularExpression form(QStringLiteral("^[0-9A-Fa-f]{2}(:?[0-9A-Fa-f]{2}){31}$"));
    return form.match(text.trimmed()).hasMatch();
}

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

namespace {

// The values of a send's options as given, before they are checked, and
// whether each was given at all.
struct RawSendOptions {
    QStringList operands;
    bool haveSubject = false, haveBody = false, haveDir = false;
    QString security, timeout;
    bool haveSecurity = false, haveTimeout = false;
    QString rate, connections, retries, retryDelay, perConnection;
    bool haveRate = false, haveConnections = false, haveRetries = false, haveRetryDelay = false,
         havePerConnection = false, haveDryRun = false, haveLists = false;
};

// The message and where it goes: subject, body, attachments, signature,
// sender, server, folder and the switches of the settings file.
void addMessageOptions(ArgumentParser& parser, SendArguments* out, RawSendOptions& raw)
{
    parser.value(QStringLiteral("--subject"), &out->subject, &raw.haveSubject);
    parser.value(QStringLiteral("--body-file"), &out->bodyFile, &raw.haveBody);
    parser.values(QStringLiteral("--attach"), &out->attachments);
    parser.value(QStringLiteral("--signature"), &out->signature);
    parser.value(QStringLiteral("--from"), &out->from, &out->haveFrom);
    parser.value(QStringLiteral("--org"), &out->org, &out->haveOrg);
    parser.value(QStringLiteral("--server"), &out->server, &out->haveServer);
    parser.value(QStringLiteral("--dir"), &out->dir, &raw.haveDir);
    parser.flag(QStringLiteral("--no-copy"), &out->noCopy);
    parser.flag(QStringLiteral("--no-log"), &out->noLog);
}

// How the connection is made: security, login, trust, client name, time-out.
void addConnectionOptions(ArgumentParser& parser, SendArguments* out, RawSendOptions& raw)
{
    parser.value(QStringLiteral("--security"), &raw.security, &raw.haveSecurity);
    parser.value(QStringLiteral("--user"), &out->user, &out->haveUser);
    parser.value(QStringLiteral("--password-file"), &out->passwordFile);
    parser.value(QStringLiteral("--ca-file"), &out->caFile, &out->haveCaFile);
    parser.value(QStringLiteral("--tls-fingerprint"), &out->fingerprint, &out->haveFingerprint);
    parser.flag(QStringLiteral("--no-verify"), &out->noVerify);
    parser.value(QStringLiteral("--helo"), &out->helo, &out->haveHelo);
    parser.value(QStringLiteral("--timeout"), &raw.timeout, &raw.haveTimeout);
}

// How the run goes: its pace, its connections, its retries, resuming, a dry run.
void addRunOptions(ArgumentParser& parser, SendArguments* out, RawSendOptions& raw)
{
    parser.value(QStringLiteral("--rate"), &raw.rate, &raw.haveRate);
    parser.value(QStringLiteral("--connections"), &raw.connections, &raw.haveConnections);
    parser.value(QStringLiteral("--provider"), &out->provider, &out->haveProvider);
    parser.value(QStringLiteral("--retries"), &raw.retries, &raw.haveRetries);
    parser.value(QStringLiteral("--retry-delay"), &raw.retryDelay, &raw.haveRetryDelay);
    parser.value(QStringLiteral("--per-connection"), &raw.perConnection, &raw.havePerConnection);
    parser.value(QStringLiteral("--dry-run"), &out->dryRunDir, &raw.haveDryRun);
    parser.flag(QStringLiteral("--resume"), &out->resume);
    parser.flag(QStringLiteral("--start-over"), &out->startOver);
    parser.flag(QStringLiteral("--skip-missing"), &out->skipMissing);
    parser.flag(QStringLiteral("--attach-absolute"), &out->attachAbsolute);
    parser.value(QStringLiteral("--lists"), &out->lists, &raw.haveLists);
    parser.flag(QStringLiteral("--include-suppressed"), &out->includeSuppressed);
}

QString checkConnectionOptions(const RawSendOptions& raw, SendArguments* out)
{
    if (raw.haveSecurity) {
        MailerSettings::Security value;
        if (!parseSecurity(raw.security, &value))
            return QStringLiteral("--security must be auto, starttls, tls or none, not \"%1\"").arg(raw.security);
        out->security = value;
    }
    if (raw.haveTimeout) {
        bool ok = false;
        const int seconds = raw.timeout.toInt(&ok);
        if (!ok || seconds < 1 || seconds > MaxTimeoutSeconds)
            return QStringLiteral("--timeout must be a whole number of seconds from 1 to %1, not \"%2\"")
                .arg(MaxTimeoutSeconds)
                .arg(raw.timeout);
        out->timeout = seconds;
    }
    if (out->haveFingerprint && !isFingerprint(out->fingerprint))
        return QStringLiteral("--tls-fingerprint must be a SHA-256: 64 hexadecimal digits, colons allowed");
    return {};
}

QString checkRunOptions(const RawSendOptions& raw, SendArguments* out)
{
    auto number = [](const QString& text, int low, int high, std::optional<int>* into) {
        bool ok = false;
        const int n = text.toInt(&ok);
        if (ok && n >= low && n <= high)
            *into = n;
        return ok && n >= low && n <= high;
    };
    if (raw.haveRate && !number(raw.rate, 0, 60000, &out->rate))
        return QStringLiteral("--rate must be a number of messages per minute from 0 (no limit) to 60000, not \"%1\"")
            .arg(raw.rate);
    if (raw.haveConnections && !number(raw.connections, 1, MailerSettings::MaxConnections, &out->connections))
        return QStringLiteral("--connections must be a number from 1 to %1, not \"%2\"")
            .arg(MailerSettings::MaxConnections)
            .arg(raw.connections);
    if (raw.haveRetries && !number(raw.retries, 0, MailerSettings::MaxRetries, &out->retries))
        return QStringLiteral("--retries must be a number from 0 to %1, not \"%2\"")
            .arg(MailerSettings::MaxRetries)
            .arg(raw.retries);
    if (raw.haveRetryDelay && !number(raw.retryDelay, 0, MailerSettings::MaxRetryDelay, &out->retryDelay))
        return QStringLiteral("--retry-delay must be a number of seconds from 0 to %1, not \"%2\"")
            .arg(MailerSettings::MaxRetryDelay)
            .arg(raw.retryDelay);
    if (raw.havePerConnection && !number(raw.perConnection, 1, MailerSettings::MaxPerConnection, &out->perConnection))
        return QStringLiteral("--per-connection must be a number from 1 to %1, not \"%2\"")
            .arg(MailerSettings::MaxPerConnection)
            .arg(raw.perConnection);
    if (raw.haveLists && out->lists.isEmpty())
        return QStringLiteral("--lists needs a folder");
    if (raw.haveDryRun && out->dryRunDir.isEmpty())
        return QStringLiteral("--dry-run needs a folder");
    if (out->resume && out->startOver)
        return QStringLiteral("--resume and --start-over exclude each other");
    return {};
}

QString checkMessageOptions(const RawSendOptions& raw, const SendArguments& out)
{
    if (raw.operands.isEmpty())
        return QStringLiteral("no address file given");
    if (!raw.haveSubject)
        return QStringLiteral("--subject is required");
    if (!raw.haveBody || out.bodyFile.isEmpty())
        return QStringLiteral("--body-file is required");
    if (raw.haveDir && out.dir.isEmpty())
        return QStringLiteral("--dir needs a folder");
    return {};
}

} // namespace

bool parseSendArguments(const QStringList& args, SendArguments* out, QString* error)
{
    *out = SendArguments();
    RawSendOptions raw;
    ArgumentParser parser;
    addMessageOptions(parser, out, raw);
    addConnectionOptions(parser, out, raw);
    addRunOptions(parser, out, raw);
    out->login.add(parser, true);
    out->message.add(parser);
    parser.operands(&raw.operands, 1, QStringLiteral("more than one address file given"));
    if (!parser.parse(args, error))
        return false;
    out->help = parser.helpAsked();
    if (out->help)
        return true;
    if (!out->login.check(error))
        return false;
    *error = checkConnectionOptions(raw, out);
    if (error->isEmpty())
        *error = checkRunOptions(raw, out);
    if (error->isEmpty())
        *error = checkMessageOptions(raw, *out);
    if (!error->isEmpty())
        return false;
    out->addressFile = raw.operands.first();
    return true;
}

namespace {

QString sendUsage()
{
    return QStringLiteral("Usage: ordergate-cli send ADDRESSFILE --subject TEXT --body-file FILE [--attach FILE]...\n"
                          "           [--signature FILE] [--from ADDR] [--org TEXT] [--server HOST[:PORT]]\n"
                          "           [--no-copy] [--no-log] [--dir DIR] [--security auto|starttls|tls|none]\n"
                          "           [--user NAME] [--password-file FILE] [--ca-file FILE]\n"
                          "           [--tls-fingerprint SHA256] [--no-verify] [--helo NAME] [--timeout SECONDS]\n"
                          "           [--resume | --start-over] [--dry-run DIR] [--rate N] [--connections N]\n"
                          "           [--skip-missing] [--attach-absolute] [--retries N] [--retry-delay SECONDS]\n"
                          "           [--per-connection N] [--lists DIR] [--include-suppressed]\n"
                          "           [--provider NAME]\n") +
        LoginOptions::usage(true) + MessageOptions::usage();
}

} // namespace

QString sendHelpText()
{
    return sendUsage() +
        QStringLiteral("\n"
                       "Sends the notification message to every customer of an address file\n"
                       "(every line holding \"@\"; the address is the line's text up to its first\n"
                       "blank), a message of its own for each customer (by default over a\n"
                       "connection of its own: see --connections and --per-connection), then a\n"
                       "copy to the sender. The same checks, message, log and message.txt as the\n"
                       "mailer window.\n"
                       "\n"
                       "  --subject TEXT      the subject (required; blanks only go out as \"None\").\n"
                       "  --body-file FILE    the body, one line per line of the file (required).\n"
                       "  --attach FILE       attach a file (repeatable). Without any, the body is\n"
                       "                      also attached as message.txt, written to DIR.\n"
                       "  --signature FILE    append this signature file to the body.\n"
                       "  --from ADDR         the sender; --org TEXT the organisation;\n"
                       "  --server HOST[:PORT] the SMTP server; without a port 465 for tls, 587 for\n"
                       "                      starttls, else 25.\n"
                       "  --no-copy           send no copy to the sender.\n"
                       "  --no-log            do not append the run to log.txt (working folder).\n"
                       "  --dir DIR           the program folder: its ordergate.ini gives the sender,\n"
                       "                      organisation, server, signature and switches that are\n"
                       "                      not given here. Default: the folder of this program.\n"
                       "  --security MODE     auto (default): implicit TLS on port 465, else STARTTLS\n"
                       "                      when offered; starttls: STARTTLS required; tls: TLS\n"
                       "                      from the start; none: plain text.\n"
                       "  --user NAME         log in as NAME; the password comes from the environment\n"
                       "                      variable ORDERGATE_SMTP_PASSWORD or from the first line\n"
                       "                      of --password-file FILE, never from the command line.\n"
                       "  --ca-file FILE      trust the authority of this PEM file for the server.\n"
                       "  --tls-fingerprint SHA256 trust the certificate with this SHA-256.\n"
                       "  --no-verify         check no certificate (every run says so).\n"
                       "  --helo NAME         the client name after EHLO (default: this machine's).\n"
                       "  --timeout SECONDS   how long to wait for each reply (default 300).\n") +
        LoginOptions::help(true) + MessageOptions::help() +
        QStringLiteral("  The settings file gives every one of these that is not given here.\n"
                       "  --resume            go on with an earlier run of this message to this\n"
                       "                      address file that did not finish: customers already\n"
                       "                      sent (or not known) are not sent again. Without a\n"
                       "                      journal of that run in the working folder it refuses.\n"
                       "  --start-over        send to every customer again although an earlier run\n"
                       "                      did not finish. Without either, such a run is refused.\n"
                       "  --dry-run DIR       send nothing: write every message (and the copy) into\n"
                       "                      DIR as a .eml file, exactly as it would go out, and\n"
                       "                      print what the run would print. No log or journal.\n"
                       "  --rate N            send at most N messages a minute (0: the provider's\n"
                       "                      limit, if its profile has one; else no limit). The\n"
                       "                      profile lowers a saved rate to its own; a rate given\n"
                       "                      here is kept, above the profile's too.\n"
                       "  --provider NAME     pace the run by this provider's profile (Microsoft,\n"
                       "                      Google Workspace, Gmail, iCloud, Yahoo, Fastmail, Zoho,\n"
                       "                      Other, or a [provider NAME] of the settings file);\n"
                       "                      without it, the profile the server's name matches.\n"
                       "  --connections N     send over N connections at once (1 to 8); the log\n"
                       "                      still lists the customers in the file's order. The\n"
                       "                      profile lowers saved connections to its own; a\n"
                       "                      number given here is kept, above the profile's too.\n"
                       "  --skip-missing      when an attachment path with fields names a file that\n"
                       "                      is missing for some customers, send to the others and\n"
                       "                      count those as not sent. Without it nothing is sent.\n"
                       "  --attach-absolute   an attachment path that is a field alone ({{file}})\n"
                       "                      takes a whole absolute path from the address file;\n"
                       "                      without it, a file's name in the address file's folder.\n"
                       "  --retries N         try a customer the server refused for now (4xx, 421,\n"
                       "                      a connection lost before the data) again at the end\n"
                       "                      of the run up to N times (0 to 10, default 2);\n"
                       "  --retry-delay SECONDS the first pause before trying again (default 30),\n"
                       "                      each later one twice as long.\n"
                       "  --per-connection N  send up to N messages over each connection (default 1:\n"
                       "                      one connection per message); later ones start with\n"
                       "                      RSET, pipelined where the server offers it.\n"
                       "  --lists DIR         the folder of the vendor's lists (default: the working\n"
                       "                      folder): a customer its unsubscribed.txt or\n"
                       "                      bounced.txt names is left out (\"suppressed\", with the\n"
                       "                      list's day and reason, not counted as refused).\n"
                       "  --include-suppressed send to those customers too.\n"
                       "\n"
                       "The subject, body, signature and attachment paths may hold fields, filled\n"
                       "in for each customer from their line of the address file: {{address}},\n"
                       "{{order}}, {{date}}, {{name}} (in a file the first job wrote), {{product}},\n"
                       "{{1}}, {{2}}... (the columns by position), every column of a header row by\n"
                       "its name; {{name|Customer}} for a default, {{{{ for a literal {{. An unknown\n"
                       "field, or one some lines lack without a default, is listed and nothing is\n"
                       "sent (exit status 2).\n"
                       "\n"
                       "Status lines go to standard output, ending with \"Message sent to N\n"
                       "customers\" and, for each other outcome (refused, deferred, not sent, not\n"
                       "known whether sent), how many and which. Each customer not sent is named\n"
                       "on standard error as it happens, with the server's reply. A customer the\n"
                       "server refuses for good is skipped; one still deferred after the last try\n"
                       "is tried again by --resume. A refusal of the sender, this computer, the\n"
                       "login or the sending limit ends the run at once. When anything is left,\n"
                       "the command that resumes is printed. Exit status: 0 all sent, 3 the run\n"
                       "completed with some refused, deferred, not sent or not known, 1 the run\n"
                       "ended early (its message on standard error), 2 a malformed command line or\n"
                       "message fields that do not fit the address file (listed on standard error).\n");
}

namespace {

ExitStatus fail(const QString& message)
{
    printError(message + u'\n');
    return ExitStatus::Failure;
}

// The password from --password-file (its first line) or else from
// ORDERGATE_SMTP_PASSWORD. The texts here never quote it.
bool readPassword(const QString& file, QString* password, QString* why)
{
    if (!file.isEmpty()) {
        QFile in(file);
        if (!in.open(QIODevice::ReadOnly)) {
            *why = QStringLiteral("Cannot read the password file %1: %2").arg(file, in.errorString());
            return false;
        }
        *password = QString::fromUtf8(in.readLine(4096));
        while (password->endsWith(u'\n') || password->endsWith(u'\r'))
            password->chop(1);
    } else {
        *password = qEnvironmentVariable("ORDERGATE_SMTP_PASSWORD");
    }
    if (password->isEmpty()) {
        *why = QStringLiteral("No password for the login: set ORDERGATE_SMTP_PASSWORD or give --password-file FILE");
        return false;
    }
    return true;
}

// The run's input: the settings file in the program folder with the
// command line's values laid over it.
MailerInput inputFrom(const SendArguments& args, const QString& folder)
{
    MailerInput input;
    MailerSettings& s = input.settings;
    input.settingsPath = settingsPathIn(folder);
    s.load(input.settingsPath);
    s.addressFile = absolute(args.addressFile);
    input.listsFolder = QDir(args.lists.isEmpty() ? QDir::currentPath() : args.lists).absolutePath();
    input.includeSuppressed = args.includeSuppressed;
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
    if (args.security)
        s.security = *args.security;
    if (args.haveUser)
        s.userName = args.user;
    // Whom to trust is one choice: any of its flags replaces all of the file's.
    if (args.haveCaFile || args.haveFingerprint || args.noVerify) {
        s.caFile = absolute(args.caFile);
        s.fingerprint = args.fingerprint.trimmed();
        s.noVerify = args.noVerify;
    }
    if (args.haveHelo)
        s.clientName = args.helo;
    if (args.timeout)
        s.timeoutSeconds = *args.timeout;
    // Given here, they are asked for on purpose: a profile does not lower them.
    if (args.rate)
        s.ratePerMinute = *args.rate;
    input.rateAsked = args.rate.has_value();
    if (args.connections)
        s.connections = *args.connections;
    input.connectionsAsked = args.connections.has_value();
    if (args.haveProvider)
        s.provider = args.provider.trimmed();
    if (args.retries)
        s.retries = *args.retries;
    if (args.retryDelay)
        s.retryDelaySeconds = *args.retryDelay;
    if (args.perConnection)
        s.perConnection = *args.perConnection;
    args.login.apply(s);
    args.message.apply(s);
    s.copyToSelf = s.copyToSelf && !args.noCopy;
    s.wantLog = s.wantLog && !args.noLog;
    input.subject = args.subject;
    s.attachAbsolute = s.attachAbsolute || args.attachAbsolute;
    // A path that begins with a field is read from the address file's folder
    // (or is the field's absolute path), never from the working folder.
    for (const QString& path : std::as_const(args.attachments))
        input.attachments << (path.startsWith(QLatin1String("{{")) ? path : absolute(path));
    input.programFolder = folder;
    // The command line never changes the vendor's saved sender details.
    input.settingsChanged = false;
    return input;
}

// How the run begins after an earlier run of this message to this address
// file: the command line answers beforehand (--resume, --start-over) or
// not at all, and the question then ends the command. An exit status when
// nothing is to be sent.
std::optional<ExitStatus> startRun(SendRun& run, const MailerInput& input, const SendArguments& args)
{
    std::optional<ResumeAnswer> standing;
    if (args.resume)
        standing = ResumeAnswer::Resume;
    else if (args.startOver)
        standing = ResumeAnswer::StartOver;
    ResumeState earlier;
    const RunStart start = run.decideStart(
        input, standing, [](const ResumeState&) { return ResumeAnswer::Cancel; }, &earlier);
    if (start == RunStart::NoJournal)
        return fail(QStringLiteral("Nothing to resume: no journal of this message to this address file could be "
                                   "read (%1): %2. A run keeps its journal in the folder it was started from: "
                                   "resume from there, or give --start-over to send to every customer again.")
                        .arg(QDir::toNativeSeparators(earlier.journal), earlier.journalProblem));
    if (start == RunStart::NothingLeft) {
        printOut(QStringLiteral("Nothing left to send: the run of this message to this address file "
                                "went to its end (%1)\n")
                     .arg(QDir::toNativeSeparators(earlier.journal)));
        return ExitStatus::Ok;
    }
    if (start == RunStart::Cancelled)
        return fail(earlier.question() +
            QStringLiteral("\nAn earlier run of this message to this address file did not finish (%1). "
                           "Give --resume to send to the remaining customers only, or --start-over to "
                           "send to all again.")
                .arg(QDir::toNativeSeparators(earlier.journal)));
    if (start == RunStart::Resumed) {
        printOut(QStringLiteral("Resuming: %1 already sent, sending to the remaining %2\n")
                     .arg(earlier.alreadySent)
                     .arg(earlier.remaining));
        if (!earlier.unknown.isEmpty())
            printOut(QStringLiteral("Not known whether sent, not sent again: ") +
                earlier.unknown.join(QStringLiteral(", ")) + u'\n');
    }
    return std::nullopt;
}

// The secrets of the login, from the environment or files: the password,
// or an OAuth2 application's client secret. False with the message.
bool readSecrets(const SendArguments& args, MailerInput& input, QString* clientSecret, QString* why)
{
    const MailerSettings& s = input.settings;
    const bool password = s.login == LoginMethod::Password;
    if (!args.passwordFile.isEmpty() && (s.userName.isEmpty() || !password)) {
        *why = password ? QStringLiteral("--password-file needs a user name (--user, or login in the settings file)")
                        : QStringLiteral("--password-file is for a login with a password (--auth password)");
        return false;
    }
    if (!s.userName.isEmpty() && password)
        return readPassword(args.passwordFile, &input.password, why);
    return s.login != LoginMethod::OAuth2 || readClientSecret(args.login.clientSecretFile(), clientSecret, why);
}

// The fields' checks before anything is sent: an exit status when the run
// may not start.
std::optional<ExitStatus> checkFields(SendRun& run, const MailerInput& input, const SendArguments& args)
{
    const SendRun::FieldCheck check = run.checkFields(input);
    if (!check.problems.isEmpty()) {
        printError(QStringLiteral("Nothing was sent: the message's fields do not fit the address file:\n") +
            check.problems.join(u'\n') + u'\n');
        return ExitStatus::Usage;
    }
    if (!check.notes.isEmpty())
        printOut(check.notes.join(u'\n') + u'\n');
    if (check.missing.isEmpty())
        return std::nullopt;
    if (!args.skipMissing) {
        printError(QStringLiteral("Nothing was sent: these customers' own attachment files are missing:\n") +
            check.missing.join(u'\n') + QStringLiteral("\nGive --skip-missing to send to the others.\n"));
        return ExitStatus::Usage;
    }
    printOut(QStringLiteral("Not sent, attachment missing:\n") + check.missing.join(u'\n') + u'\n');
    run.skipCustomers(check.missingAddresses);
    return std::nullopt;
}

// The command that goes on with this run: the same one, resuming.
QString resumeCommand(const QStringList& arguments)
{
    QStringList words {QStringLiteral("ordergate-cli"), QLatin1String(sendCommand.name)};
    for (const QString& argument : arguments) {
        if (argument == QLatin1String("--start-over") || argument == QLatin1String("--resume"))
            continue;
        static const QRegularExpression plain(QStringLiteral("^[A-Za-z0-9_@%+=:,./-]+$"));
        words << (plain.match(argument).hasMatch()
                ? argument
                : u'\'' + QString(argument).replace(u'\'', QStringLiteral("'\\''")) + u'\'');
    }
    return words.join(u' ') + QStringLiteral(" --resume");
}

// How a completed run ends: the resume command when anything is left.
ExitStatus finished(const SendOutcome& outcome, const QStringList& arguments)
{
    if (outcome.allSent())
        return ExitStatus::Ok;
    if (!outcome.deferred.isEmpty() || !outcome.notSent.isEmpty())
        printOut(QStringLiteral("To try the ones left again: ") + resumeCommand(arguments) + u'\n');
    return ExitStatus::Partly;
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
    MailerInput input = inputFrom(args, folder);
    const MailerSettings& s = input.settings;
    SendRun run;
    run.setStatusHandler([](const QString& text) {
        if (!text.isEmpty())
            printOut(text + u'\n');
    });
    run.setCustomerHandler([](const QString& address, CustomerResult result, const QString& text, bool again) {
        printError(address + QStringLiteral(": ") + outcomeWords(result) +
            (again ? QStringLiteral(", to be tried again") : QString()) + QStringLiteral(": ") + text + u'\n');
    });
    QString clientSecret;
    if (!readSecrets(args, input, &clientSecret, &error))
        return fail(error);

    QtKeyring keyring;
    std::optional<SendSignIn> signIn;
    bool started = false; // the run has begun: a failure now leaves it resumable
    try {
        input.body = MessageBody(readTextFileLines(args.bodyFile));
        const QString problem = checkMailerInput(input);
        if (!problem.isEmpty())
            return fail(problem);
        run.prepare(input);
        if (const std::optional<ExitStatus> refused = checkFields(run, input, args))
            return *refused;
        if (!args.dryRunDir.isEmpty()) {
            if (!QDir().mkpath(args.dryRunDir))
                return fail(QStringLiteral("Cannot make the folder ") + args.dryRunDir);
            run.setDryRun(QDir(args.dryRunDir).absolutePath());
            const SendOutcome outcome = run.send(input);
            return outcome.allSent() ? ExitStatus::Ok : ExitStatus::Partly;
        }
        if (const std::optional<ExitStatus> notSending = startRun(run, input, args))
            return *notSending;
        if (s.login == LoginMethod::OAuth2 && !s.userName.isEmpty()) {
            signIn.emplace(keyring, oauthApplication(s, clientSecret), s.userName);
            input.tokens = signIn->tokens(args.login.noBrowser());
        }
        started = true;
        const SendOutcome outcome = run.send(input);
        if (signIn)
            signIn->finish(false);
        return finished(outcome, arguments);
    } catch (const SignInAgain& refused) {
        if (signIn)
            signIn->finish(true);
        return fail(refused.message() +
            QStringLiteral(".\nRun ordergate-cli login with the same options (or send again, which then signs in "
                           "first), then send to the customers not yet done with: ") +
            resumeCommand(arguments));
    } catch (const std::exception& failure) {
        if (signIn)
            signIn->finish(false);
        QString text = QString::fromUtf8(failure.what());
        if (const auto* send = dynamic_cast<const SendFailure*>(&failure); send && send->tlsFromStart)
            text += QStringLiteral("\nGive --security tls.");
        if (started)
            return fail(
                text + QStringLiteral("\nTo go on with the customers not yet sent: ") + resumeCommand(arguments));
        return fail(text);
    }
}

} // namespace

} // namespace og::cli
