#pragma once
// The provider's token address: a code from the browser and its PKCE
// verifier, or a refresh token, exchanged for tokens over HTTPS with the
// certificate checked against the system's trust store. No redirect is
// followed, so a code or refresh token goes only where the vendor said.
//
// Error texts name the server and, where it gave them, its error code and
// description, never a token, code or client secret.

#include "mailer/signin/OAuthProvider.h"

#include <QDeadlineTimer>
#include <QList>
#include <QString>

#include <chrono>
#include <functional>
#include <utility>

class QNetworkAccessManager;

namespace og {

struct OAuthTokens {
    QString accessToken;  // in memory only
    QString refreshToken; // empty when the provider gave none (or, refreshing, kept the old one)
    // When the access token runs out; Forever when the provider did not say.
    QDeadlineTimer expiry {QDeadlineTimer::Forever};
};

// What the token address answered.
struct TokenReply {
    OAuthTokens tokens;
    QString error; // empty when tokens came
    // The provider refused the code or refresh token itself (expired,
    // revoked, consent withdrawn): only a new sign-in helps.
    bool signInAgain = false;
    bool ok() const { return error.isEmpty(); }
};

class OAuthTokenClient {
public:
    using Parameters = QList<std::pair<QString, QString>>;
    using Done = std::function<void(const TokenReply&)>;

    explicit OAuthTokenClient(
        OAuthApplication application, std::chrono::milliseconds timeout = std::chrono::seconds(30))
        : application_(std::move(application)),
          timeout_(timeout)
    {
    }

    const OAuthApplication& application() const { return application_; }

    // Blocking, with an event loop of their own for the time of the call;
    // they may be called from any thread, also several at once.
    TokenReply exchangeCode(const QString& code, const QString& verifier, const QString& redirectUri) const;
    TokenReply refresh(const QString& refreshToken) const;

    // The same without blocking: done is called on manager's thread once
    // the answer is in (or the time-out passed).
    void exchangeCode(QNetworkAccessManager& manager, const QString& code, const QString& verifier,
        const QString& redirectUri, Done done) const;

    // "a=1&b=2" with every value percent-encoded (so "+" stays a plus).
    static QByteArray formEncode(const Parameters& parameters);

private:
    Parameters codeForm(const QString& code, const QString& verifier, const QString& redirectUri) const;
    void post(QNetworkAccessManager& manager, Parameters form, bool refreshing, Done done) const;
    TokenReply postAndWait(const Parameters& form, bool refreshing) const;

    OAuthApplication application_;
    std::chrono::milliseconds timeout_;
};

} // namespace og
