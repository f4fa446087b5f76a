#include "cli/LoginCommand.h"

#include "cli/LoginOptions.h"
#include "cli/SignIn.h"

#include "common/ProgramFolder.h"
#include "mailer/signin/OAuthProvider.h"
#include "platform/QtKeyring.h"

#include <QDir>

namespace og::cli {

namespace {

ExitStatus run(const QStringList& args);

QString usage()
{
    return QStringLiteral("Usage: ordergate-cli login [--user NAME] [--dir DIR]\n") + LoginOptions::usage(false);
}

QString helpText()
{
    return usage() +
        QStringLiteral("\n"
                       "Signs in at the mail provider for an OAuth2 login (Microsoft 365, Outlook.com,\n"
                       "Google or another provider): the browser opens the provider's page, and\n"
                       "once you accept, the refresh token is kept in the desktop keyring, where\n"
                       "send --auth oauth2 finds it. Nothing of it goes to a file.\n"
                       "\n"
                       "  --user NAME         the account, usually the mail address.\n"
                       "  --dir DIR           the program folder: its ordergate.ini gives the user\n"
                       "                      and the provider's settings not given here.\n") +
        LoginOptions::help(false) +
        QStringLiteral("\n"
                       "Exit status: 0 signed in and kept, 1 a failure (its message on standard\n"
                       "error; without a keyring nothing can be kept), 2 a malformed command line.\n");
}

ExitStatus fail(const QString& message)
{
    printError(message + u'\n');
    return ExitStatus::Failure;
}

ExitStatus run(const QStringList& arguments)
{
    ArgumentParser parser;
    LoginOptions options;
    QString user, dir, error;
    bool haveUser = false;
    parser.value(QStringLiteral("--user"), &user, &haveUser);
    parser.value(QStringLiteral("--dir"), &dir);
    options.add(parser, false);
    if (!parser.parse(arguments, &error) || !options.check(&error))
        return usageError(loginCommand, error, usage());
    if (parser.helpAsked()) {
        printOut(helpText());
        return ExitStatus::Ok;
    }

    MailerSettings settings;
    settings.load(settingsPathIn(dir.isEmpty() ? programFolder() : QDir(dir).absolutePath() + u'/'));
    options.apply(settings);
    if (haveUser)
        settings.userName = user;
    if (settings.userName.trimmed().isEmpty())
        return fail(QStringLiteral("Name the account to sign in: --user NAME (usually the mail address)"));
    QString secret;
    if (!readClientSecret(options.clientSecretFile(), &secret, &error))
        return fail(error);
    const OAuthApplication application = oauthApplication(settings, secret);
    if (const QString problem = checkOAuthApplication(application); !problem.isEmpty())
        return fail(problem);
    // A sign-in that could not be kept would be lost when this command ends.
    QtKeyring keyring;
    RefreshTokenStore store(keyring);
    if (const QString problem = store.load(application.provider, settings.userName).problem; !problem.isEmpty())
        return fail(problem + QStringLiteral(". send signs in itself when it finds no saved sign-in"));
    const TokenReply reply = signInWithBrowser(application, settings.userName, options.noBrowser());
    if (!reply.ok())
        return fail(reply.error);
    if (reply.tokens.refreshToken.isEmpty())
        return fail(QStringLiteral("%1 gave no refresh token, so there is no sign-in to keep: check the scope "
                                   "(Microsoft's needs offline_access)")
                        .arg(application.provider.title));
    if (const QString problem = store.keep(application.provider, settings.userName, reply.tokens.refreshToken);
        !problem.isEmpty())
        return fail(problem);
    printOut(QStringLiteral("Signed in to %1 as %2; the sign-in is kept in the desktop keyring\n")
                 .arg(application.provider.title, settings.userName));
    return ExitStatus::Ok;
}

} // namespace

const Command loginCommand = {
    "login",
    "sign in at the mail provider (OAuth2) and keep the sign-in in the desktop keyring",
    &run,
};

} // namespace og::cli
