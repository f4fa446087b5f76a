#include "cli/LoginOptions.h"

#include "mailer/signin/OAuthProvider.h"

#include <QFile>

namespace og::cli {

void LoginOptions::add(ArgumentParser& parser, bool withMethod)
{
    if (withMethod) {
        parser.value(QStringLiteral("--auth"), &auth_, &haveAuth_);
        parser.value(QStringLiteral("--token-command"), &tokenCommand_, &haveTokenCommand_);
    }
    parser.value(QStringLiteral("--oauth-provider"), &provider_, &haveProvider_);
    parser.value(QStringLiteral("--client-id"), &clientId_, &haveClientId_);
    parser.value(QStringLiteral("--client-secret-file"), &clientSecretFile_);
    parser.value(QStringLiteral("--auth-url"), &authUrl_, &haveAuthUrl_);
    parser.value(QStringLiteral("--token-url"), &tokenUrl_, &haveTokenUrl_);
    parser.value(QStringLiteral("--scope"), &scope_, &haveScope_);
    parser.flag(QStringLiteral("--no-browser"), &noBrowser_);
}

bool LoginOptions::check(QString* error)
{
    LoginMethod method;
    OAuthProviderKind kind;
    if (haveAuth_ && !parseLoginMethod(auth_, &method)) {
        *error = QStringLiteral("--auth must be password, oauth2 or command, not \"%1\"").arg(auth_);
        return false;
    }
    if (haveProvider_ && !parseOAuthProvider(provider_, &kind)) {
        *error = QStringLiteral("--oauth-provider must be microsoft, google or custom, not \"%1\"").arg(provider_);
        return false;
    }
    if (haveAuth_)
        method_ = method;
    else if (haveTokenCommand_)
        method_ = LoginMethod::TokenCommand; // naming the command chooses it
    if (haveProvider_)
        kind_ = kind;
    return true;
}

void LoginOptions::apply(MailerSettings& s) const
{
    if (method_)
        s.login = *method_;
    if (kind_)
        s.oauthProvider = *kind_;
    const struct {
        bool given;
        const QString& value;
        QString MailerSettings::*field;
    } values[] = {
        {haveClientId_, clientId_, &MailerSettings::clientId},
        {haveAuthUrl_, authUrl_, &MailerSettings::authUrl},
        {haveTokenUrl_, tokenUrl_, &MailerSettings::tokenUrl},
        {haveScope_, scope_, &MailerSettings::scope},
        {haveTokenCommand_, tokenCommand_, &MailerSettings::tokenCommand},
    };
    for (const auto& v : values) {
        if (v.given)
            s.*v.field = v.value;
    }
}

QString LoginOptions::usage(bool withMethod)
{
    return (withMethod ? QStringLiteral("           [--auth password|oauth2|command] [--token-command CMD]\n")
                       : QString()) +
        QStringLiteral("           [--oauth-provider microsoft|google|custom] [--client-id ID]\n"
                       "           [--client-secret-file FILE] [--auth-url URL --token-url URL --scope TEXT]\n"
                       "           [--no-browser]\n");
}

QString LoginOptions::help(bool withMethod)
{
    QString text;
    if (withMethod)
        text = QStringLiteral("  --auth METHOD       how --user logs in: password (default), oauth2 (a sign-in\n"
                              "                      at the provider, kept in the desktop keyring; without\n"
                              "                      one, send signs in first), command (--token-command).\n"
                              "  --token-command CMD run CMD with /bin/sh -c; the first line it prints is\n"
                              "                      the access token (again when a server refuses it).\n");
    return text +
        QStringLiteral("  --oauth-provider P  microsoft (default; tenant= in the settings names one),\n"
                       "                      google or custom.\n"
                       "  --client-id ID      the client id of the application you registered there.\n"
                       "  --client-secret-file FILE  its client secret, from the file's first line.\n"
                       "  --auth-url URL, --token-url URL, --scope TEXT  a custom provider's addresses\n"
                       "                      (https:, or http: to 127.0.0.1) and scope.\n"
                       "  --no-browser        open no browser, only print the sign-in address on\n"
                       "                      standard error (it is printed in any case): open it in\n"
                       "                      a browser on this machine, whose answer comes back to\n"
                       "                      127.0.0.1 here.\n");
}

bool readClientSecret(const QString& file, QString* secret, QString* why)
{
    secret->clear();
    if (file.isEmpty())
        return true;
    QFile in(file);
    if (!in.open(QIODevice::ReadOnly)) {
        *why = QStringLiteral("Cannot read the client secret file %1: %2").arg(file, in.errorString());
        return false;
    }
    *secret = QString::fromUtf8(in.readLine(4096)).trimmed();
    if (secret->isEmpty()) {
        *why = QStringLiteral("The client secret file %1 holds no secret on its first line").arg(file);
        return false;
    }
    return true;
}

} // namespace og::cli
