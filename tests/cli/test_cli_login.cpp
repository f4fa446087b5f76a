// ordergate-cli login and send with a token: the browser step driven by the
// test through the printed address, the local authorization server
// (tests/support/oauth_server.py), aiosmtpd checking each token with it, a
// keyring of the test's own; the token command, the hint for a provider
// that wants OAuth2, and a run over IPv6.
#include "tests/support/FileTestSupport.h"
#include "tests/support/MailSink.h"
#include "tests/support/OAuthTestServer.h"
#include "tests/support/ScriptedSmtpServer.h"
#include "tests/support/TestKeyring.h"

#include "CliProcess.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QRegularExpression>
#include <QSet>
#include <QTcpServer>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <csignal>

using og::test::MailSink;
using og::test::OAuthTestServer;
using og::test::readFile;
using og::test::TestKeyring;
using og::test::writeFile;

namespace {

const QString User = QStringLiteral("vendor@example.com");
const QRegularExpression AnyToken(QStringLiteral("\\b(at|rt|cs)-[A-Za-z0-9_-]{8,}"));

class TokenLogin : public ::testing::Test {
protected:
    QTemporaryDir work, program;
    OAuthTestServer oauth {{"--client-secret", "cs-test-secret"}};
    TestKeyring keyring;
    std::unique_ptr<MailSink> sink;

    void SetUp() override
    {
        ASSERT_TRUE(oauth.start());
        ASSERT_TRUE(keyring.start());
        ASSERT_TRUE(writeFile(work.filePath("cs.txt"), "cs-test-secret\n"));
        QByteArray customers;
        for (int i = 1; i <= 50; ++i)
            customers += "c" + QByteArray::number(i) + "@example.org\n";
        ASSERT_TRUE(writeFile(work.filePath("email_Tool.txt"), customers));
        ASSERT_TRUE(writeFile(work.filePath("body.txt"), "Hello\n"));
        // The local sink speaks plain text: the token may go so to it alone.
        ASSERT_TRUE(writeFile(program.filePath("ordergate.ini"), "[user]\nsecurity=None\nplainpassword=1\n"));
    }
    void startSink(const char* mechanisms)
    {
        sink = std::make_unique<MailSink>(QStringList {"--oauth-check", oauth.url("/check"), "--oauth-mechanisms",
            mechanisms, "--auth-log", work.filePath("auth.log")});
        ASSERT_TRUE(sink->start());
    }
    QStringList application() const
    {
        return {"--oauth-provider", "custom", "--client-id", OAuthTestServer::clientId(), "--client-secret-file",
            "cs.txt", "--auth-url", oauth.url("/authorize"), "--token-url", oauth.url("/token"), "--scope", "mail.send",
            "--user", User, "--no-browser", "--dir", program.path()};
    }
    QStringList send(const QStringList& more = {}) const
    {
        return QStringList {"send", "email_Tool.txt", "--subject", "Tool 2", "--body-file", "body.txt", "--from", User,
                   "--server", sink->server(), "--auth", "oauth2"} +
            application() + more;
    }
    // Runs the command and plays the browser with the address it prints:
    // the authorization server approves and sends it to the listener.
    og::test::CliOutcome withBrowser(const QStringList& args)
    {
        QProcess p;
        p.setWorkingDirectory(work.path());
        p.setReadChannel(QProcess::StandardError);
        p.start(QStringLiteral(OG_CLI), args);
        og::test::CliOutcome o;
        while (p.canReadLine() || p.waitForReadyRead(20000)) {
            const QString line = QString::fromUtf8(p.readLine());
            o.err += line;
            if (line.startsWith("http://")) {
                const QString page = OAuthTestServer::get(OAuthTestServer::get(line.trimmed()).text).text;
                EXPECT_TRUE(page.contains("You can close this window.")) << page.toStdString();
                break;
            }
        }
        if (!p.waitForFinished(60000))
            p.kill();
        o.status = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
        o.out = QString::fromUtf8(p.readAllStandardOutput());
        o.err += QString::fromUtf8(p.readAllStandardError());
        return o;
    }
    og::test::CliOutcome run(const QStringList& args) { return og::test::runCli(work.path(), args); }
    // Each customer's message went once, and the copy last.
    void expectEachOnce(int messages)
    {
        ASSERT_EQ(sink->waitForMessages(messages), messages);
        QSet<QString> customers;
        for (int i = 1; i <= messages; ++i)
            customers << sink->envelope(i)["rcpt_tos"].toArray().first().toString();
        EXPECT_EQ(customers.size(), messages);
        EXPECT_EQ(sink->envelope(messages)["rcpt_tos"].toArray().first().toString(), User);
    }
    QString authLog() const { return QString::fromUtf8(readFile(work.filePath("auth.log"))); }
};

} // namespace

TEST_F(TokenLogin, LoginThenARunWhoseTokenRunsOutRefreshesOnceAndSendsEachCustomerOnce)
{
    startSink("XOAUTH2");
    og::test::CliOutcome o = withBrowser(QStringList {"login"} + application());
    ASSERT_EQ(o.status, 0) << o.err.toStdString();
    EXPECT_EQ(o.out, "Signed in to 127.0.0.1 as " + User + "; the sign-in is kept in the desktop keyring\n");
    const QString key = "oauth2:custom:127.0.0.1:" + User;
    EXPECT_TRUE(keyring.entries()[key].toString().startsWith("rt-"));

    // The token the run starts with serves 20 logins of its 4 connections.
    oauth.control("uses=20");
    o = run(send({"--connections", "4"}));
    ASSERT_EQ(o.status, 0) << o.err.toStdString();
    expectEachOnce(51);
    const QJsonObject stats = oauth.control();
    EXPECT_EQ(stats["refreshes"].toInt(), 2) << "one to begin with, one when the servers refused its token";
    EXPECT_GE(stats["checks_refused"].toInt(), 1);
    EXPECT_TRUE(authLog().contains("C: AUTH XOAUTH2 <user=" + User +
        "^Aauth=Bearer ****^A^A>\n"
        "S: 334 <{\"status\":\"401\",\"schemes\":\"bearer\",\"scope\":\"mail.send\"}>\n"
        "C: <>\nS: 535 5.7.8 Authentication credentials invalid\n"))
        << authLog().left(2000).toStdString();

    // No token or client secret anywhere the run writes or shows.
    QString written = o.out + o.err;
    for (const QString& dir : {work.path(), program.path()})
        for (const QString& name : QDir(dir).entryList({"*.txt", "*.ini"}, QDir::Files))
            if (name != "cs.txt")
                written += QString::fromUtf8(readFile(QDir(dir).filePath(name)));
    EXPECT_TRUE(written.contains("Sent to these Customers:"));
    EXPECT_FALSE(written.contains(AnyToken)) << AnyToken.match(written).captured().toStdString();
}

TEST_F(TokenLogin, CtrlCCancelsAWaitingLoginAndNothingIsKept)
{
    ASSERT_TRUE(writeFile(program.filePath("ordergate.ini"), "[user]\nserver=mail.example.net:587\n"));
    QProcess p;
    p.setWorkingDirectory(work.path());
    p.setReadChannel(QProcess::StandardError);
    p.start(QStringLiteral(OG_CLI), QStringList {"login"} + application());
    QString err;
    while (!err.contains("Ctrl-C cancels") && (p.canReadLine() || p.waitForReadyRead(20000)))
        err += QString::fromUtf8(p.readLine());
    ASSERT_TRUE(err.contains("Ctrl-C cancels")) << err.toStdString();
    ::kill(pid_t(p.processId()), SIGINT);
    ASSERT_TRUE(p.waitForFinished(20000));
    err += QString::fromUtf8(p.readAllStandardError());
    EXPECT_EQ(p.exitStatus(), QProcess::NormalExit);
    EXPECT_NE(p.exitCode(), 0);
    EXPECT_TRUE(err.contains("The sign-in to mail.example.net was cancelled")) << err.toStdString();
    EXPECT_TRUE(keyring.entries().isEmpty());
}

TEST_F(TokenLogin, ARevokedSignInEndsTheRunAndAfterLoginResumeFinishesIt)
{
    startSink("OAUTHBEARER XOAUTH2");
    ASSERT_EQ(withBrowser(QStringList {"login"} + application()).status, 0);
    // The run's first refresh is the last the provider grants; its token serves 10 logins.
    oauth.control("uses=10&revoke_after=1");
    og::test::CliOutcome o = run(send());
    EXPECT_EQ(o.status, 1);
    EXPECT_TRUE(o.err.contains("no longer accepts the saved sign-in (invalid_grant")) << o.err.toStdString();
    EXPECT_TRUE(o.err.contains("Sign in again.\nRun ordergate-cli login") &&
        o.err.contains("not yet done with: ordergate-cli send ") && o.err.endsWith(" --resume\n"))
        << o.err.toStdString();
    EXPECT_EQ(sink->waitForMessages(10), 10);
    EXPECT_TRUE(keyring.entries().isEmpty()) << "the refused sign-in is no longer kept";

    ASSERT_EQ(withBrowser(QStringList {"login"} + application()).status, 0);
    o = run(send({"--resume"}));
    ASSERT_EQ(o.status, 0) << o.err.toStdString();
    EXPECT_TRUE(o.out.contains("Resuming: 10 already sent, sending to the remaining 40\n"));
    expectEachOnce(51);
}

TEST_F(TokenLogin, TheTokenCommandRunsAgainWhenItsTokenIsRefused)
{
    startSink("OAUTHBEARER XOAUTH2");
    ASSERT_TRUE(writeFile(work.filePath("email_Tool.txt"), "c1@example.org\nc2@example.org\n"));
    const QString token = QJsonDocument::fromJson(OAuthTestServer::get(oauth.url("/mint?user=" + User)).text.toUtf8())
                              .object()["access_token"]
                              .toString();
    ASSERT_TRUE(writeFile(work.filePath("token"), token.toUtf8()));
    // The first run prints a token the server does not know, the next the good one.
    const QString command = "cd '" + work.path() +
        "' && echo . >>runs && { [ -e runs2 ] && cat token || "
        "echo at-unknown-stale-token; } && touch runs2";
    const og::test::CliOutcome o = run({"send", "email_Tool.txt", "--subject", "S", "--body-file", "body.txt", "--from",
        User, "--server", sink->server(), "--user", User, "--token-command", command, "--dir", program.path()});
    ASSERT_EQ(o.status, 0) << o.err.toStdString();
    expectEachOnce(3);
    EXPECT_EQ(readFile(work.filePath("runs")), ".\n.\n");
    const QString port = sink->server().section(':', 1);
    EXPECT_TRUE(authLog().contains("C: AUTH OAUTHBEARER <n,a=" + User + ",^Ahost=127.0.0.1^Aport=" + port +
        "^Aauth=Bearer ****^A^A>\nS: 334 <{\"status\":\"invalid_token\",\"scope\":\"mail.send\"}>\nC: <^A>\n"))
        << authLog().left(1000).toStdString();
    EXPECT_FALSE((o.out + o.err + readFile(work.filePath("log.txt"))).contains(AnyToken));
}

TEST_F(TokenLogin, WithoutAKeyringSendSaysSoAndSignsInFirst)
{
    startSink("XOAUTH2");
    TestKeyring none(TestKeyring::None);
    ASSERT_TRUE(none.start());
    og::test::CliOutcome o = run(QStringList {"login"} + application());
    EXPECT_EQ(o.status, 1);
    EXPECT_TRUE(o.err.startsWith("No desktop keyring is available")) << o.err.toStdString();
    EXPECT_FALSE(o.err.contains("http://")) << "no sign-in that could not be kept";

    o = run(send({"--dry-run", "out"}));
    EXPECT_EQ(o.status, 0) << "a dry run sends nothing and needs no sign-in: " << o.err.toStdString();
    o = withBrowser(send());
    ASSERT_EQ(o.status, 0) << o.err.toStdString();
    EXPECT_TRUE(o.err.startsWith("No desktop keyring is available")) << o.err.toStdString();
    EXPECT_TRUE(o.err.contains("No sign-in to 127.0.0.1 for " + User + " is saved: signing in first\n"));
    expectEachOnce(51);
}

TEST(TokenLoginHint, APasswordRefusedWith5_7_139NamesTheOAuth2SignIn)
{
    QTemporaryDir work;
    og::test::SmtpAnswers microsoft;
    microsoft.ehlo = {"250-test.server", "250 AUTH LOGIN XOAUTH2"};
    microsoft.authPassword = "535 5.7.139 Authentication unsuccessful, basic authentication is disabled.";
    og::test::ScriptedSmtpServer server(microsoft, 1);
    ASSERT_TRUE(writeFile(work.filePath("email_Tool.txt"), "c1@example.org\n"));
    ASSERT_TRUE(writeFile(work.filePath("ordergate.ini"), "[user]\nplainpassword=1\n"));
    ASSERT_TRUE(writeFile(work.filePath("pw"), "secret\n"));
    const QStringList args {"email_Tool.txt", "--subject", "S", "--body-file", "pw", "--from", User, "--server",
        QString::fromStdString(server.Address()), "--security", "none", "--user", User, "--password-file", "pw",
        "--dir", work.path()};
    const og::test::CliOutcome o = og::test::runCli(work.path(), QStringList {"send"} + args);
    EXPECT_EQ(o.status, 1);
    EXPECT_EQ(o.err,
        "535 5.7.139 Authentication unsuccessful, basic authentication is disabled. This provider wants "
        "an OAuth2 sign-in instead of a password: choose Microsoft, Google or Custom OAuth2 as the login "
        "in the mailer window, or give --auth oauth2 on the command line\nTo go on with the customers not yet "
        "sent: ordergate-cli send " +
            args.join(u' ') + " --resume\n");
}

TEST(TokenLoginAddresses, ARunToTheIPv6Loopback)
{
    if (!QTcpServer().listen(QHostAddress::LocalHostIPv6))
        GTEST_SKIP() << "this machine has no IPv6 loopback";
    QTemporaryDir work;
    MailSink sink({"--host", "::1"});
    ASSERT_TRUE(sink.start());
    ASSERT_TRUE(writeFile(work.filePath("email_Tool.txt"), "c1@example.org\n"));
    const og::test::CliOutcome o = og::test::runCli(work.path(),
        {"send", "email_Tool.txt", "--subject", "S", "--body-file", "email_Tool.txt", "--from", User, "--server",
            sink.server(), "--dir", work.path()});
    ASSERT_EQ(o.status, 0) << o.err.toStdString();
    EXPECT_EQ(sink.server(), QStringLiteral("[::1]:%1").arg(sink.port()));
    EXPECT_EQ(sink.waitForMessages(2), 2);
}
