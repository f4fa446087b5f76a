#pragma once
// The local OAuth2 authorization server of the tests
// (tests/support/oauth_server.py, Python's standard library) started on
// 127.0.0.1 for one test: it approves every sign-in, checks the PKCE
// verifier, issues short-lived tokens and revokes them on request. Every
// wait is bounded; the destructor stops it.
//
//   OAuthTestServer server({"--expires-in", "30"});
//   ASSERT_TRUE(server.start());
//   customProvider(server.url("/authorize"), server.url("/token"), "mail");
//   server.control("revoke=1")["refreshes"];   // revokes, then the statistics

#include <QJsonObject>
#include <QProcess>
#include <QString>
#include <QStringList>

namespace og::test {

class OAuthTestServer {
public:
    explicit OAuthTestServer(const QStringList& arguments = {});
    ~OAuthTestServer();
    OAuthTestServer(const OAuthTestServer&) = delete;
    OAuthTestServer& operator=(const OAuthTestServer&) = delete;

    bool start(); // false when it did not come up within a few seconds
    // "http://127.0.0.1:PORT" + path ("https:" under --tls-cert).
    QString url(const QString& path) const;
    // GET /control?query: its changes, then the statistics (exchanges,
    // pkce_verified, refreshes, refused); empty when it did not answer.
    QJsonObject control(const QString& query = {}) const;
    static QString clientId() { return QStringLiteral("test-client"); }

    // A GET with a bounded wait and no redirect followed: the status and,
    // for a redirect, its Location (else the body).
    struct Answer {
        int status = 0;
        QString text;
    };
    static Answer get(const QString& url);

private:
    QStringList arguments_;
    QProcess process_;
    int port_ = 0;
};

} // namespace og::test
