#pragma once
// Every connection of a send run, made in one place from one settings value:
// the window's runs and the command line's, one connection or several at
// once. The connections of one factory share their TLS sessions and their
// login's credential, so a secret is asked for once a run.

#include "net/WireTls.h"
#include "smtp/SmtpSecurity.h"

#include <QString>

#include <memory>
#include <string>

namespace og {

class AccessTokenSource;
class TSmtpCapabilities;
class TSmtpCredential;
class TWireSMTP;
struct MailerSettings;

// How a run reaches the mail server and logs in.
struct ConnectionSettings {
    std::string host;
    int port = 25;
    TSmtpSecurity security = TSmtpSecurity::Automatic;
    TTlsTrust trust;
    bool allowPlainPassword = false; // with None only
    std::string userName;            // empty: no login
    std::shared_ptr<TSmtpCredential> credential;
    std::string preferredLogin; // the provider profile's first login method
    std::string clientName;     // after EHLO; empty: the machine's name
    int timeoutSeconds = 300;
};

// From the mailer's settings, with the password entered for this run or,
// for an OAuth2 login, the signed-in account's tokens (a token command's
// are made here). The run's credential asks them for the token, and tells
// them when a server refused it; without tokens an OAuth2 login fails at
// the first connection with SignInAgain. Throws SendFailure when the
// server's port is no port.
ConnectionSettings connectionSettings(
    const MailerSettings& settings, const QString& password, std::shared_ptr<AccessTokenSource> tokens = nullptr);

// A refused password login's text, with where to choose an OAuth2 sign-in
// added when the server wants one instead (Microsoft's 535 5.7.139 and
// 5.7.3, "basic authentication is disabled", 550 5.7.30, or a server that
// offers a token login).
QString withOAuthHint(const QString& refusal, const TSmtpCapabilities& offered);

// What every SMTP client of the program has whatever the run (the data
// module's too): port 25, the receive buffer's step, no proxy.
void configureClient(TWireSMTP& smtp);

class ConnectionFactory {
public:
    // earlier: the TLS sessions of an earlier run (the window keeps them
    // from one run to the next), resumed when the trust is the same.
    explicit ConnectionFactory(ConnectionSettings settings, std::shared_ptr<TTlsContext> earlier = nullptr);
    ~ConnectionFactory();
    ConnectionFactory(const ConnectionFactory&) = delete;
    ConnectionFactory& operator=(const ConnectionFactory&) = delete;

    // A client set up from the settings, not yet connected.
    std::unique_ptr<TWireSMTP> make() const;
    const ConnectionSettings& settings() const { return settings_; }
    // The TLS sessions its connections share, for the next run to resume.
    std::shared_ptr<TTlsContext> tlsSessions() const { return tls_; }

private:
    ConnectionSettings settings_;
    std::shared_ptr<TTlsContext> tls_;
};

} // namespace og
