#include "mailer/signin/OAuthProvider.h"

#include "mailer/ProviderProfile.h"


#include <QHostAddress>
#include <QRegularExpression>
#include <QUrl>

namespace og {

namespace {

using Security = MailerSettings::Security;

} // namespace

OAuthProvider microsoftProvider(const QString& tenant)
{
    const QString base =
        QStringLiteral("https://login.microsoftonline.com/") + tenant + QStringLiteral("/oauth2/v2.0/");
    OAuthProvider provider;
    provider.kind = OAuthProviderKind::Microsoft;
    provider.tenant = tenant;
    provider.title = QStringLiteral("Microsoft");
    provider.authorizationUrl = base + QStringLiteral("authorize");
    provider.tokenUrl = base + QStringLiteral("token");
    // offline_access is what brings a refresh token along.
    provider.scope = QStringLiteral("https://outlook.office.com/SMTP.Send offline_access");
    provider.mailboxScope = QStringLiteral("https://outlook.office.com/IMAP.AccessAsUser.All offline_access");
    provider.servers = {{QStringLiteral("smtp.office365.com:587"), Security::StartTls},
        {QStringLiteral("smtp-mail.outlook.com:587"), Security::StartTls}};
    return provider;
}

OAuthProvider googleProvider()
{
    OAuthProvider provider;
    provider.kind = OAuthProviderKind::Google;
    provider.title = QStringLiteral("Google");
    provider.authorizationUrl = QStringLiteral("https://accounts.google.com/o/oauth2/v2/auth");
    provider.tokenUrl = QStringLiteral("https://oauth2.googleapis.com/token");
    provider.scope = QStringLiteral("https://mail.google.com/");
    // Without offline access Google gives no refresh token, and without the
    // consent prompt none on a second sign-in.
    provider.authorizationParameters = {{QStringLiteral("access_type"), QStringLiteral("offline")},
        {QStringLiteral("prompt"), QStringLiteral("consent")}};
    provider.servers = {{QStringLiteral("smtp.gmail.com:465"), Security::Tls},
        {QStringLiteral("smtp.gmail.com:587"), Security::StartTls}};
    return provider;
}

QString signInScope(const OAuthProvider& provider)
{
    QStringList scopes = provider.scope.split(u' ', Qt::SkipEmptyParts);
    for (const QString& s : provider.mailboxScope.split(u' ', Qt::SkipEmptyParts)) {
        if (!scopes.contains(s))
            scopes << s;
    }
    return scopes.join(u' ');
}

OAuthApplication forMailbox(OAuthApplication application)
{
    OAuthProvider& p = application.provider;
    // swapped, so that a first sign-in from the mailbox check still consents
    // to sending
    if (!p.mailboxScope.isEmpty())
        std::swap(p.scope, p.mailboxScope);
    return application;
}

OAuthProvider customProvider(const QString& authorizationUrl, const QString& tokenUrl, const QString& scope)
{
    OAuthProvider provider;
    provider.kind = OAuthProviderKind::Custom;
    provider.authorizationUrl = authorizationUrl.trimmed();
    provider.tokenUrl = tokenUrl.trimmed();
    provider.title = QUrl(provider.tokenUrl).host();
    provider.scope = scope.trimmed();
    return provider;
}

bool isLoopbackHost(const QString& host)
{
    if (host.compare(QLatin1String("localhost"), Qt::CaseInsensitive) == 0)
        return true;
    QString literal = host;
    if (literal.startsWith(u'[') && literal.endsWith(u']'))
        literal = literal.mid(1, literal.size() - 2);
    const QHostAddress address(literal);
    return !address.isNull() && address.isLoopback();
}

QString checkOAuthAddress(const QString& what, const QString& url)
{
    const QUrl parsed(url.trimmed(), QUrl::StrictMode);
    if (url.trimmed().isEmpty())
        return what + QStringLiteral(" is empty: enter the https: address the provider's documentation gives");
    if (!parsed.isValid() || parsed.host().isEmpty())
        return what + QStringLiteral(" \"%1\" is no web address: it starts with https:// and names a server").arg(url);
    const QString scheme = parsed.scheme().toLower();
    if (scheme == QLatin1String("https") || (scheme == QLatin1String("http") && isLoopbackHost(parsed.host())))
        return {};
    return what +
        QStringLiteral(" \"%1\" must start with https: (http: is taken only for 127.0.0.1, [::1] or localhost)")
            .arg(url);
}

QString checkMicrosoftTenant(const QString& tenant)
{
    static const QRegularExpression name(QStringLiteral("^[A-Za-z0-9][A-Za-z0-9.-]*$"));
    if (name.match(tenant).hasMatch())
        return {};
    return QStringLiteral("The Microsoft tenant \"%1\" is no tenant name: use common, organizations, consumers, "
                          "your domain (contoso.onmicrosoft.com) or the directory (tenant) id")
        .arg(tenant);
}

QString checkOAuthApplication(const OAuthApplication& application)
{
    const OAuthProvider& provider = application.provider;
    if (provider.kind == OAuthProviderKind::Microsoft) {
        if (QString problem = checkMicrosoftTenant(provider.tenant); !problem.isEmpty())
            return problem;
    }
    QString problem = checkOAuthAddress(QStringLiteral("The authorization address"), provider.authorizationUrl);
    if (problem.isEmpty())
        problem = checkOAuthAddress(QStringLiteral("The token address"), provider.tokenUrl);
    if (problem.isEmpty() && provider.scope.trimmed().isEmpty())
        problem = QStringLiteral("Enter the scope that allows sending mail, as the provider's documentation names it");
    if (problem.isEmpty() && application.clientId.trimmed().isEmpty())
        problem = QStringLiteral("Enter the client id of the application you registered with %1").arg(provider.title);
    return problem;
}

QString customProviderTitle(const MailerSettings& settings)
{
    if (!settings.provider.trimmed().isEmpty())
        return settings.provider.trimmed();
    const ProviderProfile profile = chooseProfile(settings.server, {});
    if (profile.matches(parseServerAddress(settings.server).host))
        return profile.name;
    return parseServerAddress(settings.server).host;
}

OAuthApplication oauthApplication(const MailerSettings& settings, const QString& clientSecret)
{
    OAuthApplication application;
    switch (settings.oauthProvider) {
    case OAuthProviderKind::Microsoft:
        application.provider = microsoftProvider(
            settings.tenant.trimmed().isEmpty() ? QStringLiteral("common") : settings.tenant.trimmed());
        break;
    case OAuthProviderKind::Google:
        application.provider = googleProvider();
        break;
    case OAuthProviderKind::Custom:
        application.provider = customProvider(settings.authUrl, settings.tokenUrl, settings.scope);
        // Messages name the provider as the vendor knows it, not the token
        // server's host (often a bare address).
        if (const QString named = customProviderTitle(settings); !named.isEmpty())
            application.provider.title = named;
        break;
    }
    application.clientId = settings.clientId.trimmed();
    application.clientSecret = clientSecret;
    return application;
}

namespace {

// "microsoft:", or for a custom provider "custom:" and its token server's
// host, as a password's key carries the mail server's.
QString providerKeyPart(const OAuthProvider& provider)
{
    QString part = oauthProviderWord(provider.kind) + u':';
    if (provider.kind == OAuthProviderKind::Custom)
        part += QUrl(provider.tokenUrl).host() + u':';
    return part;
}

} // namespace

QString refreshTokenKey(const OAuthProvider& provider, const QString& userName)
{
    return QStringLiteral("oauth2:") + providerKeyPart(provider) + userName;
}

QString clientSecretKey(const OAuthProvider& provider, const QString& clientId)
{
    return QStringLiteral("oauth2-client:") + providerKeyPart(provider) + clientId;
}

} // namespace og
