#include "mailer/Connections.h"

#include "common/Trim.h"
#include "mailer/MailerSettings.h"
#include "mailer/SendRun.h"
#include "net/SMTPWire.h"
#include "net/SmtpLogin.h"

namespace og {

namespace {

std::string utf8(const QString& text)
{
    return text.toStdString();
}

} // namespace

ConnectionSettings connectionSettings(const MailerSettings& settings, const QString& password)
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
        c.credential = std::make_shared<TFetchedCredential>([secret = utf8(password)] { return secret; });
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
    smtp->TlsContext = tls_;
    return smtp;
}

} // namespace og
