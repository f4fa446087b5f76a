#pragma once
// Signing in to a mail provider in the system browser: the authorization
// code flow with PKCE (S256) and a random state, for a native application
// (RFC 8252). The browser is sent to the provider's authorization address;
// the provider sends it back to a listener on 127.0.0.1 at a free port,
// whose page then says the window can be closed; the code it brings is
// exchanged for tokens at the token address.
//
//   OAuthSignIn signIn(application, userName);
//   if (QString problem = signIn.start(opener); !problem.isEmpty()) ...;
//   // signIn.browserProblem(): the opener failed; show authorizationUrl()
//   connect(&signIn, &OAuthSignIn::finished, ...);  // or: signIn.wait()
//
// Lives on one thread with an event loop (the GUI thread, or the command
// line's main thread through wait()).

#include "mailer/signin/OAuthTokenClient.h"

#include <QHash>
#include <QNetworkAccessManager>
#include <QObject>
#include <QPointer>
#include <QTcpServer>
#include <QTimer>

#include <chrono>
#include <functional>

class QTcpSocket;

namespace og {

// The PKCE pair (RFC 7636): a random verifier kept here, its S256 challenge
// sent along with the browser.
struct Pkce {
    QString verifier;
    QString challenge;
    static Pkce generate();
    static QString challengeFor(const QString& verifier);
};

// That many bytes from the system's random source, base64url without padding.
QString randomUrlText(int bytes);

class OAuthSignIn : public QObject {
    Q_OBJECT
public:
    // Opens an address in the user's browser; false with why when it could
    // not (the shape of Platform::openUrl).
    using Opener = std::function<bool(const QString& url, QString* why)>;

    // loginHint: the user name, so the provider's page suggests that account.
    explicit OAuthSignIn(OAuthApplication application, const QString& loginHint = {},
        std::chrono::milliseconds exchangeTimeout = std::chrono::seconds(30), QObject* parent = nullptr);
    ~OAuthSignIn() override;

    // Checks the application, listens, builds the authorization address and
    // hands it to open. The problem text when the sign-in could not start
    // (nothing is then opened), else empty. finished() comes at the latest
    // after timeout, or the exchange's time-out once the browser answered.
    QString start(const Opener& open, std::chrono::milliseconds timeout = std::chrono::minutes(5));
    // Why the opener failed (empty when it did not): the user then opens
    // authorizationUrl() by hand.
    QString browserProblem() const { return browserProblem_; }
    QString authorizationUrl() const { return authorizationUrl_; }
    QString redirectUri() const { return redirectUri_; }

    // Runs the event loop until finished; the result (also after it came).
    TokenReply wait();
    // Ends the sign-in now with "cancelled".
    void cancel();
    bool isFinished() const { return finished_; }

signals:
    // Once, with the tokens or the reason there are none.
    void finished(const og::TokenReply& reply);

private:
    void accept();
    void read(QTcpSocket* socket);
    void answer(const QByteArray& target, QTcpSocket* socket);
    void finish(const TokenReply& reply);
    static void respond(QTcpSocket* socket, int status, const QString& title, const QString& text);

    OAuthTokenClient client_;
    QString loginHint_;
    Pkce pkce_;
    QString state_;
    QString redirectUri_;
    QString authorizationUrl_;
    QString browserProblem_;
    QTcpServer server_;
    QNetworkAccessManager manager_;
    QTimer deadline_;
    QHash<QTcpSocket*, QByteArray> requests_;
    QPointer<QTcpSocket> page_; // the browser's answer page, until it has gone out
    bool exchanging_ = false;
    bool finished_ = false;
    TokenReply result_;
};

} // namespace og
