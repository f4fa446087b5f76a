#include "cli/BouncesCommand.h"

#include "cli/Arguments.h"
#include "cli/LoginOptions.h"
#include "cli/SignIn.h"

#include "common/ProgramFolder.h"
#include "mailbox/BounceRun.h"
#include "mailbox/MailboxFailure.h"
#include "mailer/MailerSettings.h"
#include "mailer/send/SendJournal.h"
#include "mailer/signin/AccessTokenSource.h"
#include "mailer/signin/OAuthProvider.h"
#include "mailer/signin/TokenCommand.h"
#include "platform/QtKeyring.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <optional>

namespace og::cli {

namespace {

ExitStatus run(const QStringList& args);

struct BouncesArguments {
    QString server, user, passwordFile, caFile, since, dir, lists, timeout, security;
    bool haveServer = false, haveUser = false, haveCaFile = false, haveSince = false, haveDir = false,
         haveLists = false, haveTimeout = false, haveSecurity = false;
    bool noVerify = false;
    QStringList folders;
    LoginOptions login;
    bool help = false;
};

QString usage()
{
    return QStringLiteral("Usage: ordergate-cli bounces [--server HOST[:PORT]] [--security auto|starttls|tls|none]\n"
                          "           [--user NAME] [--password-file FILE] [--folder NAME]... [--since YYYY-MM-DD]\n"
                          "           [--dir DIR] [--lists DIR] [--ca-file FILE] [--no-verify] [--timeout SECONDS]\n") +
        LoginOptions::usage(true);
}

QString helpText()
{
    return usage() +
        QStringLiteral("\n"
                       "Reads the vendor's mailbox over IMAP for what came back from the\n"
                       "notifications: delivery reports and the providers' bounces, unsubscribe\n"
                       "requests (to the unsubscribe mailto: address, or a reply saying\n"
                       "\"unsubscribe\"), auto-replies. Prints each with its address and adds the\n"
                       "addresses to suppress to bounced.txt and unsubscribed.txt in the lists\n"
                       "folder: a hard bounce and an unsubscribe at once, soft bounces after three\n"
                       "on different days. Nothing in the mailbox is deleted, moved or marked; the\n"
                       "messages read are remembered in mailbox_read.txt in the program folder, so\n"
                       "a second read adds nothing twice.\n"
                       "\n"
                       "  --server HOST[:PORT] the IMAP server; without a port 993 for tls, else 143.\n"
                       "  --security MODE     auto (default): TLS from the start on port 993, else\n"
                       "                      STARTTLS, required; starttls; tls; none: plain text\n"
                       "                      (the password too), only when asked for.\n"
                       "  --user NAME         the mailbox's login (default: the mailer's login); the\n"
                       "                      password comes from ORDERGATE_IMAP_PASSWORD, the first\n"
                       "                      line of --password-file FILE or the desktop keyring.\n"
                       "  --folder NAME       a folder to read (repeatable; default INBOX).\n"
                       "  --since YYYY-MM-DD  read messages from this day on (default: the last 30\n"
                       "                      days, or the days of the settings file).\n"
                       "  --dir DIR           the program folder (its ordergate.ini, [mailbox]\n"
                       "                      section, gives what is not given here). A report is\n"
                       "                      traced to its customer by the Message-ID the send\n"
                       "                      runs' journals keep, in the working folder and DIR.\n"
                       "  --lists DIR         the folder of the vendor's lists (default: the working\n"
                       "                      folder).\n"
                       "  --ca-file FILE      trust the authority of this PEM file for the server.\n"
                       "  --no-verify         check no certificate.\n"
                       "  --timeout SECONDS   how long to wait for each reply (default 60).\n") +
        LoginOptions::help(true) +
        QStringLiteral("\n"
                       "Exit status: 0 the mailbox was read, 1 it could not be read (nothing is\n"
                       "changed then), 2 a malformed command line.\n");
}

bool parse(const QStringList& args, BouncesArguments* out, QString* error)
{
    ArgumentParser parser;
    parser.value(QStringLiteral("--server"), &out->server, &out->haveServer);
    parser.value(QStringLiteral("--security"), &out->security, &out->haveSecurity);
    parser.value(QStringLiteral("--user"), &out->user, &out->haveUser);
    parser.value(QStringLiteral("--password-file"), &out->passwordFile);
    parser.values(QStringLiteral("--folder"), &out->folders);
    parser.value(QStringLiteral("--since"), &out->since, &out->haveSince);
    parser.value(QStringLiteral("--dir"), &out->dir, &out->haveDir);
    parser.value(QStringLiteral("--lists"), &out->lists, &out->haveLists);
    parser.value(QStringLiteral("--ca-file"), &out->caFile, &out->haveCaFile);
    parser.flag(QStringLiteral("--no-verify"), &out->noVerify);
    parser.value(QStringLiteral("--timeout"), &out->timeout, &out->haveTimeout);
    out->login.add(parser, true);
    if (!parser.parse(args, error))
        return false;
    out->help = parser.helpAsked();
    if (out->help)
        return true;
    MailboxSecurity security;
    if (!out->login.check(error))
        return false;
    if (out->haveSecurity && !parseMailboxSecurity(out->security, &security))
        *error = QStringLiteral("--security must be auto, starttls, tls or none, not \"%1\"").arg(out->security);
    else if (out->haveSince && !QDate::fromString(out->since, Qt::ISODate).isValid())
        *error = QStringLiteral("--since must be a day as YYYY-MM-DD, not \"%1\"").arg(out->since);
    else if (out->haveTimeout && (out->timeout.toInt() < 1 || out->timeout.toInt() > 3600))
        *error =
            QStringLiteral("--timeout must be a whole number of seconds from 1 to 3600, not \"%1\"").arg(out->timeout);
    else if ((out->haveDir && out->dir.isEmpty()) || (out->haveLists && out->lists.isEmpty()))
        *error = QStringLiteral("--dir and --lists need a folder");
    for (const QString& folder : std::as_const(out->folders)) {
        if (folder.trimmed().isEmpty())
            *error = QStringLiteral("--folder needs a name");
    }
    return error->isEmpty();
}

ExitStatus fail(const QString& message)
{
    printError(message + u'\n');
    return ExitStatus::Failure;
}

// The mailer's token sources behind the mailbox's interface.
std::shared_ptr<MailboxTokens> tokensOf(std::shared_ptr<AccessTokenSource> source)
{
    return std::make_shared<FunctionTokens>([source] { return source->accessToken(); },
        [source](const QString& refused) { return source->refusedToken(refused); });
}

bool readPassword(
    const BouncesArguments& args, const QString& user, const QString& host, QString* password, QString* why)
{
    if (!args.passwordFile.isEmpty()) {
        QFile in(args.passwordFile);
        if (!in.open(QIODevice::ReadOnly)) {
            *why = QStringLiteral("Cannot read the password file %1: %2").arg(args.passwordFile, in.errorString());
            return false;
        }
        *password = QString::fromUtf8(in.readLine(4096));
        while (password->endsWith(u'\n') || password->endsWith(u'\r'))
            password->chop(1);
    } else if (qEnvironmentVariableIsSet("ORDERGATE_IMAP_PASSWORD")) {
        *password = qEnvironmentVariable("ORDERGATE_IMAP_PASSWORD");
    } else {
        QtKeyring keyring;
        const Keyring::KeyringReply reply = keyring.readPassword(mailboxKeyringKey(user, host));
        if (reply.status == Keyring::KeyringStatus::Done)
            *password = reply.password;
    }
    if (password->isEmpty()) {
        *why = QStringLiteral("No password for the mailbox login of %1: set ORDERGATE_IMAP_PASSWORD, give "
                              "--password-file FILE, or keep it in the desktop keyring")
                   .arg(user);
        return false;
    }
    return true;
}

ExitStatus run(const QStringList& arguments)
{
    BouncesArguments args;
    QString error;
    if (!parse(arguments, &args, &error))
        return usageError(bouncesCommand, error, usage());
    if (args.help) {
        printOut(helpText());
        return ExitStatus::Ok;
    }
    QString folder = args.haveDir ? QDir(args.dir).absolutePath() : programFolder();
    if (!folder.endsWith(u'/'))
        folder += u'/';
    const QString settingsPath = settingsPathIn(folder);
    MailboxSettings mailbox;
    mailbox.load(settingsPath);
    MailerSettings mailer;
    mailer.load(settingsPath);
    args.login.apply(mailer);

    BounceCheckInput input;
    const QString server = args.haveServer ? args.server : mailbox.server;
    if (server.trimmed().isEmpty())
        return fail(
            QStringLiteral("No IMAP server: give --server HOST[:PORT], or server= in the [mailbox] section of %1")
                .arg(QDir::toNativeSeparators(settingsPath)));
    if (!parseMailboxServer(server, &input.server.host, &input.server.port))
        return fail(
            QStringLiteral("The IMAP server \"%1\" is no HOST or HOST:PORT with a port from 1 to 65535").arg(server));
    input.server.security = mailbox.security;
    if (args.haveSecurity)
        parseMailboxSecurity(args.security, &input.server.security);
    input.server.caFile = args.haveCaFile ? QFileInfo(args.caFile).absoluteFilePath() : mailbox.caFile;
    input.server.noVerify = args.noVerify || (!args.haveCaFile && mailbox.noVerify);
    if (args.haveTimeout)
        input.server.timeoutSeconds = args.timeout.toInt();
    input.user = args.haveUser ? args.user : !mailbox.user.isEmpty() ? mailbox.user : mailer.userName;
    if (input.user.isEmpty())
        return fail(QStringLiteral("No login for the mailbox: give --user NAME, or login= in the [mailbox] section"));
    input.folders = args.folders.isEmpty() ? mailbox.folders : args.folders;
    input.today = QDate::currentDate();
    input.since = args.haveSince ? QDate::fromString(args.since, Qt::ISODate) : input.today.addDays(-mailbox.days);
    input.context = mailContext(mailer.unsubscribe, {mailer.sender, mailer.replyTo, input.user});
    const QString listsFolder = QDir(args.haveLists ? args.lists : QDir::currentPath()).absolutePath();
    // The journals lie where the runs were started: the working folder, and
    // the program folder when it is named.
    QStringList journalFolders {QDir::currentPath()};
    if (args.haveDir && QDir(folder) != QDir::current())
        journalFolders << folder;
    for (const QString& journals : journalFolders)
        input.sent.insert(SendJournal::messageIds(journals));

    QtKeyring keyring;
    std::optional<SendSignIn> signIn;
    try {
        if (mailer.login == LoginMethod::Password) {
            if (!readPassword(args, input.user, input.server.host, &input.password, &error))
                return fail(error);
        } else if (mailer.login == LoginMethod::TokenCommand) {
            input.tokens = tokensOf(std::make_shared<TokenCommand>(mailer.tokenCommand));
        } else {
            QString clientSecret;
            if (!readClientSecret(args.login.clientSecretFile(), &clientSecret, &error))
                return fail(error);
            signIn.emplace(keyring, forMailbox(oauthApplication(mailer, clientSecret)), input.user);
            input.tokens = tokensOf(signIn->tokens(args.login.noBrowser()));
        }
        const BounceRunResult result = runBounceCheck(input, folder, listsFolder);
        if (signIn)
            signIn->finish(false);
        printOut(result.summary().join(u'\n') + u'\n');
        return ExitStatus::Ok;
    } catch (const SignInAgain& refused) {
        if (signIn)
            signIn->finish(true);
        return fail(refused.message() +
            QStringLiteral(".\nRun ordergate-cli login with the same options, then "
                           "bounces again."));
    } catch (const MailboxFailure& failure) {
        if (signIn)
            signIn->finish(false);
        return fail(failure.message());
    } catch (const std::exception& failure) {
        if (signIn)
            signIn->finish(false);
        return fail(QString::fromUtf8(failure.what()) + QStringLiteral("\nNothing was changed."));
    }
}

} // namespace

const Command bouncesCommand = {
    "bounces",
    "read the mailbox for bounces and unsubscribe requests; update the lists",
    &run,
};

} // namespace og::cli
