// The connections of a run: one factory for all of them, the secret asked
// once, the hint when a provider wants OAuth2.

#include "tests/support/ScriptedSmtpServer.h"

#include "mailer/MailerSettings.h"
#include "mailer/SendFailure.h"
#include "mailer/send/Connections.h"
#include "smtp/SMTPWire.h"

#include <QTemporaryDir>

#include <atomic>
#include <thread>

#include <gtest/gtest.h>

using namespace og;

TEST(MailerConnections, ARefusedPasswordSaysWhenTheProviderWantsOAuth2)
{
    const auto offering = [](const char* mechanisms) {
        return TSmtpCapabilities::Parse({"250-test.server", std::string("250 AUTH ") + mechanisms});
    };
    const struct {
        const char* refusal;
        const char* offer;
        bool hint;
    } cases[] = {
        {"535 5.7.139 Authentication unsuccessful, the request did not meet the criteria", "LOGIN", true},
        {"535 5.7.3 Authentication unsuccessful", "LOGIN", true},
        {"535 5.7.8 Error: basic authentication is disabled", "PLAIN", true},
        {"550 5.7.30 Basic authentication is not supported for Client Submission", "LOGIN", true},
        {"535 5.7.8 Username and Password not accepted", "PLAIN LOGIN XOAUTH2", true},
        {"mail.example.com offers no login this program can use (AUTH PLAIN or LOGIN).", "OAUTHBEARER", true},
        {"535 5.7.8 Authentication credentials invalid", "PLAIN LOGIN", false},
    };
    for (const auto& c : cases) {
        const QString text = withOAuthHint(QLatin1String(c.refusal), offering(c.offer));
        EXPECT_TRUE(text.startsWith(QLatin1String(c.refusal)));
        EXPECT_EQ(text.contains("wants an OAuth2 sign-in instead of a password: choose Microsoft, Google or Custom "
                                "OAuth2 as the login in the mailer window, or give --auth oauth2"),
            c.hint)
            << c.refusal;
    }
}

TEST(MailerConnections, OneFactoryMakesAlikeConnectionsThatAskForTheSecretOnce)
{
    og::test::SmtpAnswers answers;
    answers.ehlo = {"250-test.server", "250 AUTH PLAIN"};
    og::test::ScriptedSmtpServer server(answers, 3);
    int asked = 0;
    ConnectionSettings settings;
    settings.host = "127.0.0.1";
    settings.port = server.Port();
    settings.security = TSmtpSecurity::None;
    settings.allowPlainPassword = true;
    settings.userName = "vendor";
    settings.credential = std::make_shared<TFetchedCredential>([&] {
        ++asked;
        return std::string("s3cret");
    });
    settings.clientName = "pc.example.com";
    settings.timeoutSeconds = 20;
    const ConnectionFactory factory(settings);
    for (int i = 0; i < 3; ++i) {
        const std::unique_ptr<TWireSMTP> smtp = factory.make();
        smtp->Connect();
        smtp->Disconnect();
    }
    server.Join();
    EXPECT_EQ(asked, 1) << "once a run, however many connections";
    const std::string login = QByteArray("\0vendor\0s3cret", 14).toBase64().toStdString();
    EXPECT_EQ(
        server.Received(), std::vector<std::string>(3, "ehlo pc.example.com\r\nAUTH PLAIN " + login + "\r\nQuit\r\n"));

    settings.security = TSmtpSecurity::StartTls;
    const ConnectionFactory encrypted(settings);
    EXPECT_NE(encrypted.make()->TlsContext, nullptr);
    EXPECT_EQ(encrypted.make()->TlsContext, encrypted.make()->TlsContext) << "each resumes the others' sessions";

    // Microsoft's profile wants XOAUTH2 first; a server it does not know, the table's order.
    MailerSettings microsoft;
    microsoft.server = QStringLiteral("smtp.office365.com:587");
    microsoft.userName = QStringLiteral("vendor@example.com");
    EXPECT_EQ(connectionSettings(microsoft, QStringLiteral("pw")).preferredLogin, "XOAUTH2");
    microsoft.server = QStringLiteral("mail.example.com");
    EXPECT_EQ(connectionSettings(microsoft, QStringLiteral("pw")).preferredLogin, "");
}
