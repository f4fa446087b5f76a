// The SMTP client against a scripted server on 127.0.0.1 that records every
// byte: the dialogue, its fallbacks and every way a server can fail it.

#include <fstream>
#include <regex>
#include <thread>
#include <tuple>

#include <gtest/gtest.h>

#include "mail/EncodeWire.h"
#include "smtp/SMTPWire.h"
#include "tests/support/CountingWinsock.h"
#include "tests/support/ScriptedSmtpServer.h"

using namespace og;
using namespace og::test;
using namespace std::chrono_literals;

namespace {

const std::string kBoundary = "=_NextPart_2rfksadvnqw3nerasdf";

class SmtpTest : public ::testing::Test {
protected:
    TWireSMTP smtp;
    TWireMessage msg;
    std::vector<std::string> statuses;
    const std::string host = ClientName();

    void SetUp() override
    {
        smtp.Host = "127.0.0.1";
        smtp.Timeout = 5;
        smtp.OnStatus = [this](TWireSocket&, const std::string& text) { statuses.push_back(text); };
        msg.SetFrom("Shop <shop@example.com>");
        msg.SetSubject("Your download");
        msg.Text = {"Hello"};
        msg.Too = {"cust@example.org"};
    }

    // A server that plays `answers` on up to `connections` connections.
    std::unique_ptr<ScriptedSmtpServer> Serve(SmtpAnswers answers, int connections = 1)
    {
        auto server = std::make_unique<ScriptedSmtpServer>(std::move(answers), connections);
        smtp.Port = server->Port();
        return server;
    }

    std::string WriteFile(const std::string& name, const std::string& bytes)
    {
        std::string path = ::testing::TempDir() + name;
        std::ofstream(path, std::ios::binary) << bytes;
        return path;
    }

    // The "Date" and "Message-ID" values differ per run; the rest must match
    // byte for byte.
    static std::string MaskDate(const std::string& wire)
    {
        static const std::regex date(
            "\r\nDate: (Sun|Mon|Tue|Wed|Thu|Fri|Sat), [1-9][0-9]? "
            "(Jan|Feb|Mar|Apr|May|Jun|Jul|Aug|Sep|Oct|Nov|Dec) [0-9]{4} [0-2][0-9]:[0-5][0-9]:[0-6][0-9] "
            "[+-][0-9]{4}\r\nMessage-ID: <[0-9a-v]+\\.[0-9a-v]{24}@example\\.com>\r\n");
        return std::regex_replace(wire, date, "\r\nDate: <date>\r\nMessage-ID: <id>\r\n");
    }
};

} // namespace

TEST_F(SmtpTest, WholeDialogueByteForByte)
{
    auto server = Serve({});
    // The order in which the mailer fills the message.
    msg.Headers.Clear();
    msg.SetFrom("Shop <shop@example.com>");
    msg.SetOrganization("Example Shop");
    msg.SetSubject("Your download");
    msg.Text = {"Hello", ".", ".hidden", "", "a . inside"};
    msg.Attachments.AddAttachment(WriteFile("note.txt", "hello"));

    smtp.Send(msg);
    EXPECT_FALSE(smtp.Connected());
    server->Join();
    EXPECT_TRUE(server->Failures().empty());

    const std::string expected = "ehlo " + host +
        "\r\n"
        "Rset\r\n"
        "Mail from:<shop@example.com>\r\n"
        "RCPT to:<cust@example.org>\r\n"
        "Data\r\n"
        "From: Shop <shop@example.com>\r\n"
        "Organization: Example Shop\r\n"
        "Subject: Your download\r\n"
        "Date: <date>\r\n"
        "Message-ID: <id>\r\n"
        "MIME-Version: 1.0\r\n"
        "Content-Type: multipart/mixed; boundary=\"" +
        kBoundary +
        "\"\r\n"
        "To: cust@example.org\r\n"
        "X-Library: Wire 1.0\r\n"
        "\r\n"
        "This is a multi-part message in MIME format.\r\n"
        "\r\n"
        "--" +
        kBoundary +
        "\r\n"
        "Content-Type: text/plain\r\n"
        "Content-Transfer-Encoding: 7bit\r\n"
        "\r\n"
        "Hello\r\n"
        "..\r\n"
        "..hidden\r\n"
        "\r\n"
        "a . inside\r\n"
        "\r\n"
        "--" +
        kBoundary +
        "\r\n"
        "Content-Type: application/octet-stream;\r\n"
        "        name=\"note.txt\"\r\n"
        "Content-Transfer-Encoding: base64\r\n"
        "Content-Disposition: attachment;\r\n"
        "        filename=\"note.txt\"\r\n"
        "\r\n"
        "aGVsbG8=\r\n"
        "\r\n"
        "--" +
        kBoundary +
        "--\r\n"
        ".\r\n"
        "Quit\r\n";
    ASSERT_EQ(server->Received().size(), 1u);
    EXPECT_EQ(MaskDate(server->Received()[0]), expected);

    EXPECT_EQ(statuses,
        (std::vector<std::string> {"  Sending Message: Your download", "Connecting to 127.0.0.1", "Socket Connected",
            "Connected", "Sent without encryption: 127.0.0.1 offers no STARTTLS.", "    Successful Reset",
            "    To: cust@example.org", "    SMTP is ready for message", "    Waiting for acceptance",
            "    Message accepted", "Disconnecting", "Disconnected"}));
}

TEST_F(SmtpTest, PlainMessageWithoutAttachments)
{
    auto server = Serve({});
    smtp.Send(msg);
    server->Join();
    EXPECT_EQ(server->Delivered(), std::vector<std::string> {"cust@example.org"});
    ASSERT_EQ(server->Messages().size(), 1u);
    EXPECT_EQ(server->Messages()[0].substr(server->Messages()[0].size() - 9), "\r\nHello\r\n");
    EXPECT_EQ(MaskDate(server->Received()[0]),
        "ehlo " + host +
            "\r\nRset\r\nMail from:<shop@example.com>\r\nRCPT to:<cust@example.org>\r\nData\r\n"
            "From: Shop <shop@example.com>\r\n"
            "Subject: Your download\r\n"
            "Date: <date>\r\n"
            "Message-ID: <id>\r\n"
            "Content-Type: text/plain\r\n"
            "To: cust@example.org\r\n"
            "X-Library: Wire 1.0\r\n"
            "\r\n"
            "Hello\r\n"
            ".\r\n"
            "Quit\r\n");
}

TEST_F(SmtpTest, HeloWhenEhloIsNotUnderstood)
{
    SmtpAnswers answers;
    answers.ehlo = {"500 Command not recognized"};
    auto server = Serve(answers);
    smtp.Send(msg);
    server->Join();
    const std::string wire = server->Received()[0];
    EXPECT_EQ(wire.rfind("ehlo " + host + "\r\nHelo " + host + "\r\nRset\r\n", 0), 0u) << wire;
    EXPECT_TRUE(smtp.Capabilities.empty());
}

TEST_F(SmtpTest, HeloRefusedEndsTheConnection)
{
    SmtpAnswers answers;
    answers.ehlo = {"500 Command not recognized"};
    answers.helo = {"501 Go away"};
    auto server = Serve(answers);
    try {
        smtp.Send(msg);
        FAIL() << "a refused HELO was ignored";
    } catch (const EWireResponseError& e) {
        EXPECT_EQ(e.Message(), "501 Go away");
    }
    EXPECT_FALSE(smtp.Connected());
    server->Join();
    EXPECT_EQ(server->Received()[0], "ehlo " + host + "\r\nHelo " + host + "\r\nQuit\r\n");
}

TEST_F(SmtpTest, A421ToEhloEndsTheConnectionWithTheServersLine)
{
    SmtpAnswers answers;
    answers.ehlo = "421 4.3.2 Service shutting down";
    answers.dropBeforeAnswer = 2; // closed after it
    auto server = Serve(answers);
    try {
        smtp.Send(msg);
        ADD_FAILURE() << "a 421 was ignored";
    } catch (const EWireResponseError& e) {
        EXPECT_EQ(e.Message(), "421 4.3.2 Service shutting down");
    }
    server->Join();
    EXPECT_EQ(server->Received()[0], "ehlo " + host + "\r\nQuit\r\n") << "no HELO";
}

TEST_F(SmtpTest, AuthMechanismsFromTheEhloReply)
{
    SmtpAnswers answers;
    answers.ehlo = {"250-test.server", "250-AUTH LOGIN PLAIN", "250-AUTH=LOGIN", "250-XAUTH CRAM-SHA1",
        "250-auth cram-md5  login", "250 HELP"};
    auto server = Serve(answers);
    smtp.Connect();
    EXPECT_EQ(smtp.Capabilities.AuthMechanisms(), (std::vector<std::string> {"LOGIN", "PLAIN", "CRAM-MD5"}));
    EXPECT_TRUE(smtp.AuthSupported(TWireSMTP::TAuthenticationType::atLogin));
    EXPECT_FALSE(smtp.AuthSupported(TWireSMTP::TAuthenticationType::atNone));
    smtp.Disconnect();
    server->Join();
    EXPECT_EQ(server->Received()[0], "ehlo " + host + "\r\nQuit\r\n");
}

TEST_F(SmtpTest, LoginWhenAskedAndOffered)
{
    SmtpAnswers answers;
    answers.ehlo = {"250-test.server", "250-AUTH LOGIN", "250 HELP"};
    auto server = Serve(answers);
    smtp.AuthenticationType = TWireSMTP::TAuthenticationType::atLogin;
    smtp.Security = TWireSMTP::TSecurity::None;
    smtp.AllowPlainPassword = true;
    smtp.UserID = "user";
    smtp.Password = "secret";
    smtp.Send(msg);
    server->Join();
    const std::string wire = server->Received()[0];
    EXPECT_NE(wire.find("Rset\r\nauth LOGIN\r\ndXNlcg==\r\nc2VjcmV0\r\n"
                        "Mail from:<shop@example.com> AUTH=<shop@example.com>\r\n"),
        std::string::npos)
        << wire;
    EXPECT_NE(std::find(statuses.begin(), statuses.end(), "Authenticating"), statuses.end());
}

TEST_F(SmtpTest, NoLoginWhenTheServerDoesNotOfferIt)
{
    SmtpAnswers answers;
    answers.ehlo = {"250-test.server", "250-XAUTH LOGIN", "250 HELP"};
    auto server = Serve(answers);
    smtp.AuthenticationType = TWireSMTP::TAuthenticationType::atLogin;
    smtp.UserID = "user";
    smtp.Send(msg);
    server->Join();
    const std::string wire = server->Received()[0];
    EXPECT_EQ(wire.find("auth"), std::string::npos);
    EXPECT_NE(wire.find("Rset\r\nMail from:<shop@example.com>\r\nRCPT"), std::string::npos) << wire;
}

TEST_F(SmtpTest, LoginAtConnectEndsAtAReplyOutOfStep)
{
    smtp.AuthenticationType = TWireSMTP::TAuthenticationType::atAny;
    smtp.Security = TWireSMTP::TSecurity::None;
    smtp.AllowPlainPassword = true;
    smtp.UserID = "user";
    smtp.Password = "secret";
    SmtpAnswers tooSoon, oneMore, nothingKnown;
    tooSoon.ehlo = oneMore.ehlo = {"250-test.server", "250 AUTH LOGIN"};
    tooSoon.auth = "235 2.7.0 Accepted"; // before the user name was asked for
    oneMore.authPassword = "334 UGFzc3dvcmQ6";
    nothingKnown.ehlo = {"250-test.server", "250 AUTH CRAM-MD5"};
    for (const auto& [answers, error, sent] : std::vector<std::tuple<SmtpAnswers, std::string, std::string>> {
             {tooSoon, "235 2.7.0 Accepted", "AUTH LOGIN\r\n"},
             {oneMore, "334 UGFzc3dvcmQ6", "AUTH LOGIN\r\ndXNlcg==\r\nc2VjcmV0\r\n"},
             {nothingKnown, "127.0.0.1 offers no login this program can use (AUTH PLAIN or LOGIN).", ""}}) {
        auto server = Serve(answers);
        try {
            smtp.Connect();
            ADD_FAILURE() << "logged in after " << error;
        } catch (const EWireAuthError& refused) {
            EXPECT_EQ(refused.what(), error);
        }
        server->Join();
        EXPECT_EQ(server->Received()[0], "ehlo " + host + "\r\n" + sent + "Quit\r\n");
    }
}

// A token login: the mechanism the offer allows (OAUTHBEARER first), its
// one response, and a refused token: the status of the server's challenge
// in words, the answer each protocol asks for, and a fresh token from the
// shared credential for the next try.
TEST_F(SmtpTest, TokenLoginAndARefusedToken)
{
    smtp.AuthenticationType = TWireSMTP::TAuthenticationType::atAny;
    smtp.Security = TWireSMTP::TSecurity::None;
    smtp.AllowPlainPassword = true;
    smtp.UserID = "ven,dor";
    int fetched = 0;
    smtp.Credential =
        std::make_shared<TFetchedCredential>([&] { return "tok" + std::to_string(++fetched); }, TSecretKind::Token);
    const auto challenge = [](const std::string& json) { return "334 " + TWireEncoder::EncodeBytes(json); };
    const std::string refused = "535 5.7.8 Authentication credentials invalid";
    const struct {
        const char* offer;
        std::string reply;
        const char* token;
        const char* answer; // to the challenge, as sent; nullptr: none was asked for
        std::string error;  // empty: logged in
    } cases[] = {
        {"250 AUTH LOGIN XOAUTH2", "235 2.7.0 Accepted", "tok1", nullptr, ""},
        {"250 AUTH XOAUTH2 OAUTHBEARER", "235 2.7.0 Accepted", "tok1", nullptr, ""},
        {"250 AUTH XOAUTH2", challenge(R"({"status":"401","schemes":"bearer"})"), "tok1", "",
            refused + " (the token was refused with status 401: it has expired or was revoked)"},
        {"250 AUTH OAUTHBEARER", challenge(R"({ "status" : "insufficient_scope" })"), "tok2", "AQ==",
            refused +
                " (the token was refused with status insufficient_scope: it does not allow sending mail "
                "(check the scope))"},
        {"250 AUTH XOAUTH2", "535 5.7.3 Authentication unsuccessful", "tok3", nullptr,
            "535 5.7.3 Authentication unsuccessful"},
        {"250 AUTH PLAIN LOGIN", "", "", nullptr,
            "127.0.0.1 offers no login this program can use (AUTH OAUTHBEARER or XOAUTH2)."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.offer + (" " + c.reply));
        SmtpAnswers answers;
        answers.ehlo = {"250-test.server", c.offer};
        answers.authToken = c.reply;
        auto server = Serve(answers);
        const std::string a(1, '\x01'), bearer = "auth=Bearer " + std::string(c.token) + a + a;
        const std::string response = std::string(c.offer).find("OAUTHBEARER") != std::string::npos
            ? "OAUTHBEARER " +
                TWireEncoder::EncodeBytes(
                    "n,a=ven=2Cdor," + a + "host=127.0.0.1" + a + "port=" + std::to_string(smtp.Port) + a + bearer)
            : "XOAUTH2 " + TWireEncoder::EncodeBytes("user=ven,dor" + a + bearer);
        try {
            smtp.Connect();
            smtp.Disconnect();
            EXPECT_EQ(c.error, "");
        } catch (const EWireAuthError& e) {
            EXPECT_EQ(e.what(), c.error);
            const bool tokenRefused = dynamic_cast<const EWireTokenRefused*>(&e) != nullptr;
            EXPECT_EQ(tokenRefused, *c.token != 0);
            EXPECT_EQ(smtp.RenewSecret(), tokenRefused) << "the refused token is renewed once";
            EXPECT_FALSE(smtp.RenewSecret());
        }
        server->Join();
        const std::string login = *c.token ? "AUTH " + response + "\r\n" : "";
        const std::string answered = c.answer ? c.answer + std::string("\r\n") : "";
        EXPECT_EQ(server->Received()[0], "ehlo " + host + "\r\n" + login + answered + "Quit\r\n");
    }
    EXPECT_EQ(fetched, 3);
    // A provider's own first choice goes before the table's order.
    smtp.PreferredLogin = "XOAUTH2";
    SmtpAnswers both;
    both.ehlo = {"250-test.server", "250 AUTH OAUTHBEARER XOAUTH2"};
    auto server = Serve(both);
    smtp.Connect();
    smtp.Disconnect();
    server->Join();
    EXPECT_EQ(server->Received()[0].find("AUTH XOAUTH2 "), server->Received()[0].find("AUTH "));
}

TEST_F(SmtpTest, LoginRejectedEndsTheSend)
{
    SmtpAnswers answers;
    answers.ehlo = {"250-test.server", "250 AUTH LOGIN"};
    answers.authPassword = "535 Authentication failed";
    auto server = Serve(answers);
    smtp.AuthenticationType = TWireSMTP::TAuthenticationType::atLogin;
    smtp.Security = TWireSMTP::TSecurity::None;
    smtp.AllowPlainPassword = true;
    smtp.UserID = std::string(300, 'u'); // cut to 255 before encoding
    smtp.Password = "wrong";
    EXPECT_THROW(smtp.Send(msg), EWireResponseError);
    server->Join();
    const std::string wire = server->Received()[0];
    std::string encodedUser; // 255 times "u": 85 groups of "uuu", each "dXV1"
    for (int i = 0; i < 85; ++i)
        encodedUser += "dXV1";
    EXPECT_NE(wire.find("auth LOGIN\r\n" + encodedUser + "\r\nd3Jvbmc=\r\nQuit\r\n"), std::string::npos) << wire;
}

TEST_F(SmtpTest, RecipientsBccThenCcThenTo)
{
    auto server = Serve({});
    msg.Too = {"First <to1@example.org>", "to2@example.org"};
    msg.CCList = {"copy@example.org"};
    msg.BCCList = {"Hidden <blind@example.org>"};
    smtp.Send(msg);
    server->Join();
    const std::string wire = server->Received()[0];
    EXPECT_NE(wire.find("RCPT to:<blind@example.org>\r\n"
                        "RCPT to:<copy@example.org>\r\n"
                        "RCPT to:<to1@example.org>\r\n"
                        "RCPT to:<to2@example.org>\r\n"
                        "Data\r\n"),
        std::string::npos)
        << wire;
    EXPECT_NE(
        wire.find("\r\nTo: First <to1@example.org>,to2@example.org\r\nCc: copy@example.org\r\n"), std::string::npos)
        << wire;
    EXPECT_EQ(wire.find("blind@example.org", wire.find("Data\r\n")), std::string::npos);
    EXPECT_EQ(wire.find("Bcc"), std::string::npos);
    EXPECT_NE(std::find(statuses.begin(), statuses.end(), "    To: Hidden <blind@example.org>"), statuses.end());
}

TEST_F(SmtpTest, AddressWithoutDomainGetsTheDefaultDomain)
{
    auto server = Serve({});
    msg.Too = {"postmaster"};
    msg.CCList = {"sales"};
    msg.DefaultDomain = "example.net";
    smtp.Send(msg);
    server->Join();
    const std::string wire = server->Received()[0];
    EXPECT_NE(wire.find("RCPT to:<sales@example.net>\r\nRCPT to:<postmaster@example.net>\r\n"), std::string::npos)
        << wire;
}

TEST_F(SmtpTest, BlankSubjectBecomesNone)
{
    auto server = Serve({});
    msg.SetSubject(" \t ");
    smtp.Send(msg);
    server->Join();
    EXPECT_EQ(msg.Subject(), "None");
    EXPECT_NE(server->Received()[0].find("\r\nSubject: None\r\n"), std::string::npos);
    EXPECT_EQ(statuses.front(), "  Sending Message: None");
}

TEST_F(SmtpTest, BodyCannotEndTheDataEarly)
{
    auto server = Serve({});
    msg.Text = {".", "first\r\n.\r\nQuit", "..two"};
    smtp.Send(msg);
    server->Join();
    EXPECT_TRUE(server->Failures().empty());
    const std::string wire = server->Received()[0];
    const std::string body = wire.substr(wire.find("\r\n\r\n") + 4);
    EXPECT_EQ(body, "..\r\nfirst\r\n..\r\nQuit\r\n...two\r\n.\r\nQuit\r\n");
}

TEST_F(SmtpTest, RejectedMessageRaisesTheServerLineAndQuits)
{
    SmtpAnswers answers;
    answers.accepted = "554 Message rejected as spam";
    auto server = Serve(answers);
    try {
        smtp.Send(msg);
        FAIL() << "a rejected message counted as sent";
    } catch (const EWireResponseError& e) {
        EXPECT_EQ(e.Message(), "554 Message rejected as spam");
    }
    EXPECT_FALSE(smtp.Connected());
    server->Join();
    const std::string wire = server->Received()[0];
    EXPECT_EQ(wire.substr(wire.size() - 9), ".\r\nQuit\r\n");
}

TEST_F(SmtpTest, GreetingOtherThan220IsARefusal)
{
    SmtpAnswers answers;
    answers.greeting = "421 Too busy, try later";
    auto server = Serve(answers);
    try {
        smtp.Send(msg);
        FAIL() << "a 421 greeting was taken";
    } catch (const EWireConnectRefused& e) {
        EXPECT_EQ(e.Message(), "421 Too busy, try later");
        EXPECT_EQ(smtp.RefusedAt(), TWireSMTP::TRefusedAt::Greeting) << "the server's \"not now\"";
    }
    EXPECT_FALSE(smtp.Connected());
    server->Join();
    EXPECT_EQ(server->Received()[0], "Quit\r\n");
}

TEST_F(SmtpTest, ServerDroppingTheConnectionAtAnyStep)
{
    // 0 greeting, 1 ehlo, 2 Rset, 3 Mail, 4 RCPT, 5 Data, 6 the data's end.
    for (int step = 0; step <= 6; ++step) {
        SCOPED_TRACE("dropped before answer " + std::to_string(step));
        SmtpAnswers answers;
        answers.dropBeforeAnswer = step;
        auto server = Serve(answers);
        try {
            smtp.Send(msg);
            FAIL() << "a dropped connection counted as a sent message";
        } catch (const EWireConnClosedGraceful& e) {
            EXPECT_EQ(smtp.DataSent(), step == 6) << "only after the final dot may the server have it";
            EXPECT_EQ(e.Message(), "Connection Closed Gracefully.");
        } catch (const EWireSocketError& e) {
            // A reset may overtake the orderly close.
            EXPECT_TRUE(e.ErrorCode() == WSAECONNRESET || e.ErrorCode() == WSAESHUTDOWN) << e.Message();
        }
        EXPECT_FALSE(smtp.Connected());
        server->Join();
    }
}

TEST_F(SmtpTest, RefusedRecipientIsItsOwnErrorInLockstepAndPipelined)
{
    struct Case {
        const char* reply;
        bool pipelined;
        bool recipientRefused;
    };
    for (const Case& c :
        {Case {"550 5.1.1 <dave@example.com>: User unknown", false, true}, Case {"450 4.2.0 Mailbox busy", true, true},
            Case {"550 5.1.1 Unknown", true, true}, Case {"421 4.3.2 Service shutting down", false, false}}) {
        SCOPED_TRACE(c.reply);
        SmtpAnswers answers;
        answers.rcpt = c.reply;
        answers.data = "554 5.5.1 No valid recipients";
        if (c.pipelined)
            answers.ehlo = {"250-test.server", "250 PIPELINING"};
        auto server = Serve(answers);
        try {
            smtp.Send(msg);
            FAIL() << "a refused recipient counted as sent";
        } catch (const EWireResponseError& e) {
            EXPECT_EQ(e.Message(), c.reply) << "the text the catch sites show stays the reply";
            EXPECT_EQ(dynamic_cast<const EWireRecipientRefused*>(&e) != nullptr, c.recipientRefused);
        }
        EXPECT_FALSE(smtp.DataSent());
        EXPECT_FALSE(smtp.Connected());
        server->Join();
    }
}

TEST_F(SmtpTest, ServerThatStopsAnsweringTimesOut)
{
    // 1 ehlo, 5 Data, 6 the end of the data.
    for (int step : {1, 5, 6}) {
        SCOPED_TRACE("silent from answer " + std::to_string(step));
        SmtpAnswers answers;
        answers.silentFrom = step;
        auto server = Serve(answers);
        smtp.Timeout = 1;
        try {
            smtp.Send(msg);
            FAIL() << "a silent server accepted the message";
        } catch (const EWireSocketError& e) {
            EXPECT_EQ(e.ErrorCode(), 10060);
            EXPECT_EQ(e.Message(), "Socket Error #10060\r\nConnection timed out.");
        }
        EXPECT_FALSE(smtp.Connected());
        server->Join();
        // No farewell into a connection that is known to be dead.
        const std::string wire = server->Received()[0];
        EXPECT_EQ(wire.find("Quit"), std::string::npos) << wire;
    }
}

TEST_F(SmtpTest, RefusedPortReportsTheConnectError)
{
    smtp.Port = UnusedPort();
    try {
        smtp.Send(msg);
        FAIL() << "sent to a port where nothing listens";
    } catch (const EWireSocketError& e) {
        EXPECT_EQ(e.ErrorCode(), 10061);
        EXPECT_EQ(e.Message(), "Socket Error #10061\r\nConnection refused.");
    }
    EXPECT_FALSE(smtp.Connected());
}

TEST_F(SmtpTest, EachSendOnAnIdleClientHasItsOwnConnection)
{
    auto server = Serve({}, 2);
    smtp.Send(msg);
    msg.Too = {"second@example.org"};
    smtp.Send(msg);
    server->Join();
    EXPECT_EQ(server->Accepted(), 2);
    auto received = server->Received();
    ASSERT_EQ(received.size(), 2u);
    for (const auto& wire : received) {
        EXPECT_EQ(wire.rfind("ehlo ", 0), 0u);
        EXPECT_EQ(wire.substr(wire.size() - 9), ".\r\nQuit\r\n");
    }
    EXPECT_NE(received[1].find("RCPT to:<second@example.org>"), std::string::npos);
}

TEST_F(SmtpTest, SendOnAnOpenConnectionKeepsItOpen)
{
    auto server = Serve({});
    smtp.Connect();
    smtp.Send(msg);
    EXPECT_TRUE(smtp.Connected());
    smtp.Send(msg);
    smtp.Disconnect();
    server->Join();
    const std::string wire = server->Received()[0];
    EXPECT_EQ(wire.substr(0, wire.find("\r\n") + 2), "ehlo " + host + "\r\n");
    std::size_t first = wire.find(".\r\nMail from:"); // no RSET after an accepted message
    EXPECT_NE(first, std::string::npos) << wire;
    EXPECT_EQ(wire.substr(wire.size() - 9), ".\r\nQuit\r\n");
}

TEST_F(SmtpTest, PipeliningOnlyWhereOfferedWithTheSameBytesAndErrors)
{
    // The server notes which lines had arrived before it answered the first
    // of them (a "round"), then answers each in order.
    struct Outcome {
        std::vector<std::string> rounds;
        std::string wire, errorType, error;
        std::vector<std::string> statuses;
    };
    auto run = [&](bool offered, const std::string& rcptReply) {
        Outcome out;
        ScriptedSmtpServer server([&](ServerSession& s, int) {
            s.Reply("220 test.server ESMTP");
            while (auto line = s.ReadLine()) {
                std::string round = line->substr(0, 4);
                std::vector<std::string> lines {*line};
                while (auto more = s.ReadLine(150ms)) {
                    round += " " + more->substr(0, 4);
                    lines.push_back(*more);
                }
                out.rounds.push_back(round);
                for (const auto& command : lines) {
                    const std::string verb = command.substr(0, 4);
                    if (verb == "Quit")
                        return;
                    if (verb == "ehlo")
                        s.Send(std::string("250-test.server\r\n") + (offered ? "250-PIPELINING\r\n" : "") +
                            "250 HELP\r\n");
                    else if (verb == "RCPT")
                        s.Reply(rcptReply);
                    else if (verb == "Data" && rcptReply[0] != '2')
                        s.Reply("554 5.5.1 Error: no valid recipients");
                    else if (verb == "Data" && (s.Reply("354 Go ahead"), s.ReadData()))
                        s.Reply("250 Queued");
                    else
                        s.Reply("250 OK");
                }
            }
        });
        smtp.Port = server.Port();
        statuses.clear();
        try {
            smtp.Send(msg);
        } catch (const EWireResponseError& e) {
            out.errorType = typeid(e).name();
            out.error = e.Message();
        }
        server.Join();
        out.wire = MaskDate(server.Received().at(0));
        out.statuses = statuses;
        return out;
    };
    const std::string refusal = "550 5.1.1 <cust@example.org>: Recipient address rejected: User unknown";
    for (const std::string& rcpt : {std::string("250 Recipient OK"), refusal}) {
        SCOPED_TRACE(rcpt);
        const Outcome pipelined = run(true, rcpt), lockstep = run(false, rcpt);
        const bool refused = rcpt == refusal;
        EXPECT_EQ(pipelined.rounds, (std::vector<std::string> {"ehlo", "Rset Mail RCPT Data", "Quit"}));
        EXPECT_EQ(lockstep.rounds,
            refused ? (std::vector<std::string> {"ehlo", "Rset", "Mail", "RCPT", "Quit"})
                    : (std::vector<std::string> {"ehlo", "Rset", "Mail", "RCPT", "Data", "Quit"}));
        // Each reply is matched to its own command: the refusal is the RCPT's
        // reply, not the DATA's that followed it.
        EXPECT_EQ(pipelined.error, refused ? refusal : "");
        EXPECT_EQ(pipelined.errorType, lockstep.errorType);
        EXPECT_EQ(pipelined.error, lockstep.error);
        EXPECT_EQ(pipelined.statuses, lockstep.statuses);
        if (!refused) {
            EXPECT_EQ(pipelined.wire, lockstep.wire);
        }
    }
    // Switched off, the client keeps to lockstep even where it is offered.
    smtp.UsePipelining = false;
    EXPECT_EQ(run(true, "250 OK").rounds.size(), 6u);
}

// With CHUNKING and PIPELINING a message costs one wait: MAIL, RCPT and the
// message leave together; RSET only after a refusal, which is read whole so
// the connection goes on.
TEST_F(SmtpTest, ChunkingSendsTheMessageWithItsEnvelope)
{
    std::vector<std::string> rounds, messages;
    ScriptedSmtpServer server([&](ServerSession& s, int) {
        s.Reply("220 test.server ESMTP");
        while (auto line = s.ReadLine()) {
            std::string round;
            std::vector<std::string> replies;
            for (std::optional<std::string> l = line; l; l = s.ReadLine(150ms)) {
                const std::string verb = l->substr(0, 4);
                round += (round.empty() ? "" : " ") + verb;
                if (verb == "Quit")
                    return rounds.push_back(round);
                if (verb == "ehlo")
                    replies.push_back("250-test.server\r\n250-PIPELINING\r\n250 CHUNKING");
                else if (verb == "RCPT")
                    replies.push_back(l->find("gone@") != std::string::npos ? "550 5.1.1 User unknown" : "250 OK");
                else if (verb == "BDAT") {
                    messages.push_back(s.ReadBytes(std::stoul(l->substr(5))).value_or("(cut)"));
                    replies.push_back(messages.size() == 2 ? "554 5.5.1 No valid recipients" : "250 Queued");
                } else
                    replies.push_back("250 OK");
            }
            rounds.push_back(round);
            for (const std::string& reply : replies)
                s.Reply(reply);
        }
    });
    smtp.Port = server.Port();
    smtp.KeepConnection = true;
    msg.Text = {"Hello", ".hidden"};
    smtp.Send(msg);
    msg.Too = {"gone@example.org"};
    EXPECT_THROW(smtp.Send(msg), EWireRecipientRefused);
    EXPECT_EQ(smtp.RefusedAt(), TWireSMTP::TRefusedAt::Recipient);
    EXPECT_TRUE(smtp.Connected()) << "every reply was read";
    msg.Too = {"cust@example.org"};
    smtp.Send(msg);
    smtp.Disconnect();
    server.Join();
    EXPECT_EQ(rounds,
        (std::vector<std::string> {"ehlo", "Rset Mail RCPT BDAT", "Mail RCPT BDAT", "Rset Mail RCPT BDAT", "Quit"}));
    ASSERT_EQ(messages.size(), 3u);
    EXPECT_NE(messages[0].find("\r\n\r\nHello\r\n.hidden\r\n"), std::string::npos) << "no dot doubled";
}

TEST_F(SmtpTest, ServerClosingFirstAfterAcceptanceIsNoFailure)
{
    ScriptedSmtpServer server([](ServerSession& s, int) {
        s.Reply("220 hi");
        for (;;) {
            auto line = s.ReadLine();
            if (!line)
                return;
            if (*line == "Data") {
                s.Reply("354 go");
                s.ReadData();
                s.Reply("250 taken");
                s.Close();
                return;
            }
            s.Reply("250 ok");
        }
    });
    smtp.Port = server.Port();
    EXPECT_NO_THROW(smtp.Send(msg));
    EXPECT_FALSE(smtp.Connected());
    server.Join();
}

TEST_F(SmtpTest, MissingSenderOrRecipientsFailBeforeConnecting)
{
    ScriptedSmtpServer server([](ServerSession&, int) {});
    smtp.Port = server.Port();
    msg.SetFrom("Nobody <>");
    try {
        smtp.Send(msg);
        FAIL();
    } catch (const EWireException&) {
        FAIL() << "a plain error was expected";
    } catch (const Exception& e) {
        EXPECT_EQ(e.Message(), "From not specified.");
    }
    msg.SetFrom("shop@example.com");
    msg.Too.clear();
    try {
        smtp.Send(msg);
        FAIL();
    } catch (const Exception& e) {
        EXPECT_EQ(e.Message(), "TO not specified.");
    }
    server.Stop();
    EXPECT_EQ(server.Accepted(), 0);
    EXPECT_TRUE(statuses.empty());
}

TEST_F(SmtpTest, LineBreaksOrControlCharactersInAddressesOrHeadersAreRefusedBeforeConnecting)
{
    using namespace std::string_literals;
    ScriptedSmtpServer server([](ServerSession&, int) {});
    smtp.Port = server.Port();
    auto refused = [&](const char* what, const std::string& naming = "") {
        try {
            smtp.Send(msg);
            ADD_FAILURE() << what << " was sent";
        } catch (const EWireException& e) {
            EXPECT_NE(e.Message().find(naming), std::string::npos) << e.Message();
        }
        msg.Clear();
        SetUp();
    };
    msg.SetFrom("shop@example.com\r\nRCPT to:<victim@example.org>");
    refused("From");
    msg.Too = {"cust@example.org>\r\nRCPT to:<victim@example.org"};
    refused("To");
    msg.CCList = {"a@example.org\nBcc: victim@example.org"};
    refused("Cc");
    msg.BCCList = {"b@example.org\r"};
    refused("Bcc");
    msg.SetSubject("Hi\r\nBcc: victim@example.org");
    refused("Subject");
    // Any other control character goes into MAIL FROM or RCPT TO as it is.
    msg.SetFrom("Shop <shop\0@example.com>"s);
    refused("From with NUL", "The sender's address \"shop\\x00@example.com\" holds a control character");
    msg.BCCList = {"Hidden <blind@example.org\x7f>"};
    refused("Bcc with DEL", "The address \"blind@example.org\\x7F\" holds a control character");
    server.Stop();
    EXPECT_EQ(server.Accepted(), 0);
}

TEST_F(SmtpTest, LineBreakInTheProgramNameNeverReachesTheHeaders)
{
    auto server = Serve({});
    smtp.XProgram = "Mailer\r\nBcc: victim@example.org";
    EXPECT_THROW(smtp.Send(msg), EWireException);
    EXPECT_FALSE(smtp.Connected());
    server->Join();
    const std::string wire = server->Received()[0];
    EXPECT_EQ(wire.find("victim"), std::string::npos) << wire;
    EXPECT_EQ(wire.find("X-Mailer"), std::string::npos) << wire;
}

TEST_F(SmtpTest, UnreadableAttachmentEndsTheSendAndTheConnection)
{
    auto server = Serve({});
    msg.Attachments.AddAttachment(::testing::TempDir() + "no-such-dir/missing.pdf");
    EXPECT_THROW(smtp.Send(msg), Exception);
    EXPECT_FALSE(smtp.Connected());
    server->Join();
    const std::string wire = server->Received()[0];
    EXPECT_NE(wire.find("filename=\"missing.pdf\"\r\n\r\n"), std::string::npos) << wire;
    // The data never ended, so the server discards it.
    EXPECT_EQ(wire.find("\r\n.\r\n"), std::string::npos);
}

TEST_F(SmtpTest, DestroyingAConnectedClientSaysQuit)
{
    auto server = Serve({});
    {
        TWireSMTP local;
        local.Host = "127.0.0.1";
        local.Port = smtp.Port;
        local.Connect();
    }
    server->Join();
    EXPECT_EQ(server->Received()[0], "ehlo " + host + "\r\nQuit\r\n");
}

TEST(SmtpCapabilitiesTest, KeywordsAndParametersFromAnEhloReply)
{
    const auto caps = TSmtpCapabilities::Parse({"250-test.server hello", "250-size 1000", "250-PIPELINING",
        "250-Auth=login", "250-AUTH PLAIN login", "250-8BITMIME", "250 STARTTLS"});
    struct Case {
        const char* keyword;
        bool present;
        std::vector<std::string> parameters;
    };
    for (const Case& c :
        std::initializer_list<Case> {{"SIZE", true, {"1000"}}, {"pipelining", true, {}}, {"StartTLS", true, {}},
            {"AUTH", true, {"login", "PLAIN"}}, {"test.server", false, {}}, {"CHUNKING", false, {}}}) {
        EXPECT_EQ(caps.Has(c.keyword), c.present) << c.keyword;
        EXPECT_EQ(caps.Parameters(c.keyword), c.parameters) << c.keyword;
    }
    EXPECT_EQ(caps.AuthMechanisms(), (std::vector<std::string> {"LOGIN", "PLAIN"}));
    EXPECT_TRUE(caps.HasAuthMechanism("plain"));
    EXPECT_FALSE(caps.HasAuthMechanism("CRAM-MD5"));
}

TEST_F(SmtpTest, TheLastSegmentOfALargeBodyIsPushedOutBeforeTheWait)
{
    auto server = Serve({});
    msg.Attachments.AddAttachment(WriteFile("large.bin", std::string(200 * 1024, 'x')));
    CountingWinsock counting;
    smtp.Send(msg);
    server->Join();
    EXPECT_EQ(counting.noDelayOn, 1) << "once, after the data's final dot";
    EXPECT_EQ(counting.noDelayOff, 1);
}

TEST(SmtpLoginTest, MechanismChosenFromTheOfferThenItsExchangeStepByStep)
{
    int fetched = 0;
    TFetchedCredential secret([&] { return "pw" + std::to_string(++fetched); });
    const std::string nul(1, '\0');
    struct Case {
        std::string offer;  // the AUTH line of the EHLO reply
        const char* chosen; // nullptr: none this program can use
        std::optional<std::string> first;
        std::vector<std::string> answers; // to the server's challenges, in order
    };
    for (const Case& c : std::vector<Case> {{"250 AUTH LOGIN PLAIN", "PLAIN", nul + "vendor" + nul + "pw1", {}},
             {"250 AUTH=LOGIN", "LOGIN", std::nullopt, {"vendor", "pw1"}},
             {"250 AUTH CRAM-MD5 XOAUTH2", nullptr, std::nullopt, {}}}) {
        SCOPED_TRACE(c.offer);
        const auto mechanism =
            ChooseLoginMechanism(TSmtpCapabilities::Parse({"250-test.server", c.offer}), {"vendor", "", 0}, secret);
        ASSERT_EQ(mechanism != nullptr, c.chosen != nullptr);
        if (!mechanism)
            continue;
        EXPECT_STREQ(mechanism->Name(), c.chosen);
        EXPECT_EQ(mechanism->FirstResponse(), c.first);
        for (const std::string& answer : c.answers) {
            EXPECT_FALSE(mechanism->Done()) << "a 235 before " << answer << " is out of step";
            EXPECT_EQ(mechanism->Answer("VXNlcm5hbWU6"), answer);
        }
        EXPECT_TRUE(mechanism->Done());
        EXPECT_EQ(mechanism->Answer("VXNlcm5hbWU6"), std::nullopt) << "a further challenge ends the login";
    }
    EXPECT_EQ(fetched, 1) << "one secret for every login that shares the credential";
    EXPECT_TRUE(secret.Renew("pw0")); // renewed by another connection already
    EXPECT_EQ(secret.Secret(), "pw1");
    EXPECT_TRUE(secret.Renew("pw1"));
    EXPECT_EQ(secret.Secret(), "pw2");
    EXPECT_EQ(secret.Secret(), "pw2");
    EXPECT_EQ(fetched, 2);
}
