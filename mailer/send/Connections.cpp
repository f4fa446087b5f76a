#include "mailer/send/Connections.h"

#include "common/Trim.h"
#include "mailer/MailerSettings.h"
#include "mailer/ProviderProfile.h"
#include "mailer/signin/AccessTokenSource.h"
#include "mailer/signin/OAuthProvider.h"
#include "mailer/signin/TokenCommand.h"
#include "smtp/SMTPWire.h"
#include "smtp/SmtpLogin.h"

namespace og {

namespace {

std::string utf8(const QString& text)
{
    return text.toStdString();
}

// A run's access token: asked of the token source on every login (it
// renews a token shortly before it runs out) and handed back to it when a
// server refused it.
class TokenCredential : public TSmtpCredential {
public:
    TokenCredential(std::shared_ptr<AccessTokenSource> source, QString missing)
        : source_(std::move(source)),
          missing_(std::move(missing))
    {
    }
    TSecretKind Kind() const override { return TSecretKind::Token; }
    std::string Secret() override { return utf8(source().accessToken()); }
    bool Renew(const std::string& refused) override
    {
        source().refusedToken(QString::fromStdString(refused));
        return true;
    }

private:
    AccessTokenSource& source()
    {
        if (!source_)
            throw SignInAgain(missing_);
        return *source_;
    }
    std::shared_ptr<AccessTokenSource> source_;
    QString missing_;
};

std::shared_ptr<TSmtpCredential> credentialFor(
    const MailerSettings& settings, const QString& password, std::shared_ptr<AccessTokenSource> tokens)
{
    switch (settings.login) {
    case LoginMethod::Password:
        break;
    case LoginMethod::TokenCommand:
        if (!tokens)
            tokens = std::make_shared<TokenCommand>(settings.tokenCommand);
        return std::make_shared<TokenCredential>(tokens, QString());
    case LoginMethod::OAuth2:
        return std::make_shared<TokenCredential>(tokens,
            QStringLiteral("Not signed in to %1 as %2: sign in first")
                .arg(oauthApplication(settings).provider.title, settings.userName));
    }
    return std::make_shared<TFetchedCredential>([secret = utf8(password)] { return secret; });
}

} // namespace

QString withOAuthHint(const QString& refusal, const TSmtpCapabilities& offered)
{
    static const char* const kSigns[] = {"5.7.139", "535 5.7.3", "basic authentication is disabled", "5.7.30"};
    bool wanted = OffersLoginFor(offered, TSecretKind::Token);
    for (const char* sign : kSigns)
        wanted = wanted || refusal.contains(QLatin1String(sign), Qt::CaseInsensitive);
    if (!wanted)
        return refusal;
    return refusal + (refusal.endsWith(u'.') ? QStringLiteral(" ") : QStringLiteral(". ")) +
        QStringLiteral("This provider wants an OAuth2 sign-in instead of a password: choose Microsoft, Google or "
                       "Custom OAuth2 as the login in the mailer window, or give --auth oauth2 on the command line");
}

ConnectionSettings connectionSettings(
    const MailerSettings& settings, const QString& password, std::shared_ptr<AccessTokenSource> tokens)
{
    const ServerAddress server = parseServerAddress(settings.server, settings.security);
    if (!server.problem.isEmpty())
        throw SendFailure(server.problem);
    ConnectionSettings c;
    c.host = utf8(server.host);
    c.port = server.port;
    c.security = settings.security;
    c.trust = TTlsTrust {utf8(settings.caFile), utf8(trimmed(settings.fingerprint)), settings.noVerify};
    c.allowPlainPassword = settings.allowPlainPassword;
    c.clientName = utf8(trimmed(settings.clientName));
    c.timeoutSeconds = settings.timeoutSeconds;
    if (!settings.userName.isEmpty()) {
        c.userName = utf8(settings.userName);
        c.credential = credentialFor(settings, password, std::move(tokens));
        const ProviderProfile profile = chooseProfile(settings.server, {}, settings.provider);
        if (!profile.logins.isEmpty())
            c.preferredLogin = utf8(profile.logins.first());
    }
    return c;
}

void configureClient(TWireSMTP& smtp)
{
    smtp.Port = 25;
    smtp.BufferChunk = 8192;
    smtp.SocksPort = 0;
    smtp.SocksVersion = TSocksVersion::NoSocks;
    smtp.SocksAuthentication = TSocksAuthentication::NoAuthentication;
}

ConnectionFactory::ConnectionFactory(ConnectionSettings settings, std::shared_ptr<TTlsContext> earlier)
    : settings_(std::move(settings))
{
    // A run without TLS keeps them for the next run that has it.
    if (earlier && (earlier->Trust() == settings_.trust || settings_.security == TSmtpSecurity::None)) {
        tls_ = std::move(earlier);
    } else if (settings_.security != TSmtpSecurity::None) {
        // Made before the first connection so that every one resumes the
        // sessions of the others, parallel ones too.
        try {
            tls_ = std::make_shared<TTlsContext>(settings_.trust);
        } catch (const std::exception&) {
            // The first connection that needs it makes it and reports why not.
        }
    }
}

ConnectionFactory::~ConnectionFactory() = default;

std::unique_ptr<TWireSMTP> ConnectionFactory::make() const
{
    auto smtp = std::make_unique<TWireSMTP>();
    configureClient(*smtp);
    const ConnectionSettings& s = settings_;
    smtp->Host = s.host;
    smtp->Port = s.port;
    smtp->Security = s.security;
    smtp->Trust = s.trust;
    smtp->AllowPlainPassword = s.allowPlainPassword;
    smtp->HeloName = s.clientName;
    smtp->Timeout = s.timeoutSeconds;
    const bool login = !s.userName.empty();
    smtp->AuthenticationType = login ? TWireSMTP::TAuthenticationType::atAny : TWireSMTP::TAuthenticationType::atNone;
    smtp->UserID = s.userName;
    smtp->Credential = login ? s.credential : nullptr;
    smtp->PreferredLogin = s.preferredLogin;
    smtp->TlsContext = tls_;
    return smtp;
}

} // namespace og
