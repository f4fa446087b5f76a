// The send run shared by the mailer window and the command line, through its
// public interface: the checks, the address-file rules, the run against a
// real local SMTP server and against one that fails on purpose.
#include "MailTestSupport.h"
#include "tests/support/FileSizeLimit.h"
#include "tests/support/MailSink.h"
#include "tests/support/ScriptedSmtpServer.h"

#include "common/AddressFile.h"
#include "common/ProfileFile.h"
#include "mail/WireMessage.h"
#include "mailer/AttachmentType.h"
#include "mailer/Connections.h"
#include "mailer/MarkdownBody.h"
#include "mailer/RunLog.h"
#include "mailer/SendRun.h"
#include "net/SMTPWire.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QTemporaryDir>
#include <QThread>
#include <cerrno>
#include <cstring>

#include <atomic>
#include <chrono>
#include <thread>
#include <tuple>

#include <gtest/gtest.h>

using namespace og;
using og::test::readFile;
using og::test::writeFile;

namespace {

class SendRunTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir_.isValid());
        folder_ = dir_.path() + u'/';
        previous_ = QDir::currentPath();
        QDir::setCurrent(dir_.path()); // log.txt lands in the working folder
        addressFile_ = folder_ + QStringLiteral("email_Widget.txt");
        ASSERT_TRUE(writeFile(addressFile_,
            "alice@example.com , 1001 , 2026-01-02 , Alice Smith\r\n"
            "   bob@example.org\r\n"
            "no address on this line\r\n"
            "carol@example.net , 1003\r\n"));
    }
    void TearDown() override { QDir::setCurrent(previous_); }

    MailerInput input(const QString& server) const
    {
        MailerInput in;
        in.settings.addressFile = addressFile_;
        in.settings.sender = QStringLiteral("vendor@example.com");
        in.settings.organisation = QStringLiteral("Vendor Ltd");
        in.settings.server = server;
        in.subject = QStringLiteral("New version");
        in.body = MessageBody({QStringLiteral("Hello,"), QStringLiteral(".dot line"), QStringLiteral("Bye")});
        in.settingsPath = folder_ + QStringLiteral("ordergate.ini");
        in.programFolder = folder_;
        in.settingsChanged = true;
        in.settings.retryDelaySeconds = 0; // retries at once: no test waits
        return in;
    }

    QStringList logLines() const
    {
        return QString::fromUtf8(readFile(folder_ + QStringLiteral("log.txt"))).split(QStringLiteral("\r\n"));
    }

    QTemporaryDir dir_;
    QString folder_, previous_, addressFile_;
};

} // namespace

TEST(MailerChecks, EachCheckReportsItsOwnMessageInOrder)
{
    QTemporaryDir dir;
    const QString file = dir.path() + QStringLiteral("/email_x.txt");
    ASSERT_TRUE(writeFile(file, "a@b.c\r\n"));
    MailerInput good;
    good.settings.addressFile = file;
    good.settings.sender = QStringLiteral("me@example.com");
    good.settings.server = QStringLiteral("mail.example.com");
    good.subject = QStringLiteral("Hi");
    good.body = MessageBody({QStringLiteral("body")});
    EXPECT_EQ(checkMailerInput(good), QString());

    MailerInput in = good;
    in.settings.addressFile = QStringLiteral("click button to select -->>>");
    in.settings.sender.clear(); // a later failure must not be reported first
    EXPECT_EQ(checkMailerInput(in), QStringLiteral("Invalid address file name"));
    in.settings.addressFile = dir.path(); // a folder is not a file
    EXPECT_EQ(checkMailerInput(in), QStringLiteral("Invalid address file name"));

    in = good;
    for (const char* sender : {"", "me.example.com", "@example.com"}) {
        in.settings.sender = QLatin1String(sender);
        in.settings.server.clear();
        EXPECT_EQ(checkMailerInput(in), QStringLiteral("You must enter your correct email address")) << sender;
    }
    in.settings.sender = QStringLiteral("m@");
    for (const char* server : {"x.y", "[::1]:587", "2001:db8::25"}) {
        in.settings.server = QLatin1String(server);
        EXPECT_EQ(checkMailerInput(in), QString()) << "one character before @ is enough; " << server;
    }

    in = good;
    for (const char* server : {"", "localhost", ".example.com", "localhost:2525"}) {
        in.settings.server = QLatin1String(server);
        in.subject.clear();
        EXPECT_EQ(checkMailerInput(in), QStringLiteral("You must enter your mail server (e.g. mail.example.com)"))
            << server;
    }

    in = good;
    in.settings.server = QStringLiteral("mail.example.com:65536");
    in.subject.clear();
    EXPECT_EQ(checkMailerInput(in), QStringLiteral("The mail server's port \"65536\" is not a number from 1 to 65535"));

    in = good;
    in.subject.clear();
    in.body = MessageBody();
    EXPECT_EQ(checkMailerInput(in), QStringLiteral("You must enter a subject for your message"));
    in.subject = QStringLiteral("   ");
    EXPECT_EQ(checkMailerInput(in), QStringLiteral("You must enter something in your message"))
        << "blanks count as a subject";
    in.body = MessageBody({QString()});
    EXPECT_EQ(checkMailerInput(in), QString()) << "a body of one empty line passes";

    in = good;
    in.settings.replyTo = QStringLiteral("help@shop.example");
    in.settings.unsubscribe = QStringLiteral(" mailto:out@shop.example  https://shop.example/out?c={{id}} ");
    EXPECT_EQ(checkMailerInput(in), QString());
    for (const char* address : {"http://shop.example/out", "https:///out", "out@shop.example", "mailto:"}) {
        in.settings.unsubscribe = QLatin1String(address);
        in.subject.clear();
        EXPECT_EQ(checkMailerInput(in),
            QStringLiteral("The unsubscribe address \"%1\" is no mailto:name@domain or https://host/... address")
                .arg(address));
    }
    in.settings.replyTo = QStringLiteral("help");
    EXPECT_EQ(checkMailerInput(in), QStringLiteral("The reply address \"help\" is no mail address"));
    // Checked like addresses before a run: nothing a header may not hold.
    const QByteArray longUrl = "https://shop.example/" + QByteArray(1000, 'x');
    for (const auto& [reply, leave, problem] : {std::tuple {"a\x1b@shop.example", "", "The reply address \"a\\x1b@"},
             std::tuple {"a@shop.example", "mailto:b@shop.example\x7f", "The unsubscribe address \"mailto:b@shop"},
             std::tuple {"a@shop.example", longUrl.constData(), "is longer than 998 bytes"}}) {
        in.settings.replyTo = QString::fromUtf8(reply);
        in.settings.unsubscribe = QString::fromUtf8(leave);
        EXPECT_TRUE(checkMailerInput(in).contains(QString::fromUtf8(problem))) << checkMailerInput(in).toStdString();
    }
}

TEST(MailerMarkdown, RendersWithoutReachingOutAndEscapedValuesStayText)
{
    const struct {
        const char* markdown;
        const char* html;
    } cases[] = {
        {"# Hi\n\n*x*", "<h1>Hi</h1>\n<p><em>x</em></p>\n"},
        {"<b>x</b> <script>y</script>",
            "<p><!-- raw HTML omitted -->x<!-- raw HTML omitted --> <!-- raw HTML omitted -->y<!-- raw HTML omitted "
            "--></p>\n"},
        {"[a](javascript:alert(1))", "<p><a href=\"\">a</a></p>\n"},
        {"![logo *x*](https://t.example/p.png \"T\")",
            "<p><a href=\"https://t.example/p.png\" title=\"T\">logo <em>x</em></a></p>\n"},
        {"![](https://t.example/p.png)", "<p><a href=\"https://t.example/p.png\">https://t.example/p.png</a></p>\n"},
        {"[![logo](https://t.example/p.png)](https://shop.example)",
            "<p><a href=\"https://shop.example\">logo</a></p>\n"},
        {"![x](data:image/png;base64,iVBORw0K) [y]( DATA:text/html,hi)",
            "<p><a href=\"\">x</a> <a href=\"\">y</a></p>\n"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(markdownToHtml(QString::fromUtf8(c.markdown)), QString::fromUtf8(c.html)) << c.markdown;
    EXPECT_EQ(markdownToHtml("Hi\n" + plainTextAsMarkdown({"Bye", "-- ", "", "Sam *Seller*"})),
        "<p>Hi\nBye<br />\n--</p>\n<p>Sam *Seller*</p>\n")
        << "a signature stays its lines; \"-- \" makes no heading";
    EXPECT_EQ(markdownWithSignatureToHtml("*Hi*\n-- \nSam *S*", {"Shop"}),
        "<p><em>Hi</em></p>\n<p>--<br />\nSam *S*<br />\nShop</p>\n")
        << "a typed separator starts the plain signature";
    const QString value = QStringLiteral("*50%* <b>off</b> [x](y) # _1._ \\ `c` ~Jörg~ \"&\"");
    EXPECT_EQ(markdownToHtml("a " + escapeMarkdown(value)), "<p>a " + value.toHtmlEscaped() + "</p>\n");
}

TEST(MailerSettingsFile, KeysLoadAndSaveThroughOneTable)
{
    QTemporaryDir dir;
    const QString ini = dir.filePath(QStringLiteral("ordergate.ini"));
    ASSERT_TRUE(writeFile(ini, "[user]\r\nemail=a@b.c\r\n[options]\r\nlog=0\r\nefile=/x/email_A.txt\r\n"));
    MailerSettings s;
    s.organisation = QStringLiteral("Old Ltd");
    s.copyToSelf = false;
    s.load(ini);
    EXPECT_EQ(s.sender, QStringLiteral("a@b.c"));
    EXPECT_EQ(s.organisation, QString()) << "a missing sender detail empties the field";
    EXPECT_FALSE(s.wantLog);
    EXPECT_FALSE(s.copyToSelf) << "a missing switch keeps its state";
    EXPECT_EQ(s.addressFile, QStringLiteral("/x/email_A.txt"));

    // A file from before the connection keys: Automatic, no login, as if new,
    // even when loaded over other values.
    MailerSettings old;
    old.security = MailerSettings::Security::Tls;
    old.userName = QStringLiteral("someone");
    old.noVerify = true;
    old.timeoutSeconds = 5;
    old.format = MessageFormat::Markdown;
    old.autoSubmitted = true;
    old.load(ini);
    EXPECT_EQ(old.format, MessageFormat::Plain) << "a file from before the format key sends plain text";
    EXPECT_FALSE(old.autoSubmitted);
    EXPECT_EQ(old.security, MailerSettings::Security::Automatic);
    EXPECT_EQ(old.userName, QString());
    EXPECT_FALSE(old.noVerify);
    EXPECT_EQ(old.timeoutSeconds, 300);

    const QString fresh = dir.filePath(QStringLiteral("fresh.ini"));
    s.server = QStringLiteral("mail.example.com");
    s.save(fresh);
    EXPECT_EQ(readFile(fresh),
        QByteArray(
            "[user]\r\nemail=a@b.c\r\ncompany=\r\nserver=mail.example.com\r\nsecurity=Automatic\r\n"
            "login=\r\nhelo=\r\ntimeout=300\r\ncafile=\r\nfingerprint=\r\nnocheck=0\r\nplainpassword=0\r\n"
            "auth=password\r\noauthprovider=microsoft\r\nclientid=\r\ntenant=\r\nauthurl=\r\ntokenurl=\r\n"
            "scope=\r\ntokencommand=\r\n[options]\r\nlog=0\r\naudit=0\r\nsigfile=0\r\nsigname=\r\nrate="
            "0\r\nconnections=1\r\nformat=plain\r\nreplyto=\r\nautosubmitted=0\r\nunsubscribe=\r\nattachabsolute=0\r\n"
            "retries=2\r\nretrydelay=30\r\npermessage=1\r\n"));
    s.security = MailerSettings::Security::StartTls;
    s.userName = QStringLiteral("a@b.c");
    s.clientName = QStringLiteral("pc.example.com");
    s.timeoutSeconds = 30;
    s.caFile = QStringLiteral("/etc/ca.pem");
    s.fingerprint = QStringLiteral("ab:cd");
    s.noVerify = s.allowPlainPassword = true;
    s.login = LoginMethod::OAuth2;
    s.oauthProvider = OAuthProviderKind::Custom;
    s.clientId = QStringLiteral("app-1");
    s.authUrl = QStringLiteral("https://id.example.com/authorize");
    s.tokenUrl = QStringLiteral("https://id.example.com/token");
    s.scope = QStringLiteral("smtp");
    s.tokenCommand = QStringLiteral("pass show mail-token");
    s.format = MessageFormat::Markdown;
    s.replyTo = QStringLiteral("help@shop.example");
    s.autoSubmitted = true;
    s.unsubscribe = QStringLiteral("mailto:out@shop.example https://shop.example/out");
    s.save(fresh);
    MailerSettings back;
    back.load(fresh);
    back.addressFile = s.addressFile; // efile is written by the run alone
    EXPECT_EQ(back, s);
}

TEST(MailerText, BodyKeepsItsShownLinesAndItsTypedText)
{
    MessageBody body;
    body.addLine(QStringLiteral("Dear "), true); // wrapped by the field
    body.addLine(QStringLiteral("customer"), false);
    body.addLine(QString(), false);
    body.endWithBreak();
    EXPECT_EQ(body.typedText(), QStringLiteral("Dear customer\n\n"));
    body.append({QStringLiteral("-- "), QStringLiteral("Vendor")});
    EXPECT_EQ(body.lines(), (QStringList {"Dear ", "customer", "", "-- ", "Vendor"}));
    EXPECT_EQ(body.typedText(), QStringLiteral("Dear customer\n\n-- \nVendor"));
    EXPECT_EQ(MessageBody({QString()}, true).typedText(), QStringLiteral("\n"));
}

TEST(MailerText, ServerAddressTakesAnOptionalPort)
{
    EXPECT_EQ(parseServerAddress(QStringLiteral("mail.example.com")).host, QStringLiteral("mail.example.com"));
    EXPECT_EQ(parseServerAddress(QStringLiteral("mail.example.com")).port, 25);
    const ServerAddress local = parseServerAddress(QStringLiteral("127.0.0.1:2525"));
    EXPECT_EQ(local.host, QStringLiteral("127.0.0.1"));
    EXPECT_EQ(local.port, 2525);
    // Without a port, the security setting's; a bad port is named, not
    // passed on as part of the host name.
    using Security = MailerSettings::Security;
    const struct {
        const char* server;
        Security security;
        const char* host;
        int port;
        const char* problem;
    } cases[] = {
        {" mail.example.com ", Security::Tls, "mail.example.com", 465, ""},
        {"mail.example.com", Security::StartTls, "mail.example.com", 587, ""},
        {"mail.example.com", Security::None, "mail.example.com", 25, ""},
        {"mail.example.com:2525 ", Security::Tls, "mail.example.com", 2525, ""},
        {"mail.example.com:99999", Security::Automatic, "mail.example.com", 25,
            "The mail server's port \"99999\" is not a number from 1 to 65535"},
        {"mail.example.com:0", Security::Automatic, "mail.example.com", 25,
            "The mail server's port \"0\" is not a number from 1 to 65535"},
        {"mail.example.com:smtp", Security::Automatic, "mail.example.com", 25,
            "The mail server's port \"smtp\" is not a number from 1 to 65535"},
        {" [::1]:2525", Security::Automatic, "::1", 2525, ""},
        {"[2001:db8::1]", Security::StartTls, "2001:db8::1", 587, ""},
        {"2001:db8::25", Security::Tls, "2001:db8::25", 465, ""},
        {"[::1]:", Security::Automatic, "::1", 25, "The mail server's port \"\" is not a number from 1 to 65535"},
    };
    for (const auto& c : cases) {
        const ServerAddress a = parseServerAddress(QLatin1String(c.server), c.security);
        EXPECT_EQ(a.host, QLatin1String(c.host)) << c.server;
        EXPECT_EQ(a.port, c.port) << c.server;
        EXPECT_EQ(a.problem, QLatin1String(c.problem)) << c.server;
    }
}

TEST(MailerText, LinesAndAddressesFollowTheFieldAndFileRules)
{
    EXPECT_EQ(splitTextLines(QString()), QStringList());
    EXPECT_EQ(splitTextLines(QStringLiteral("a\r\nb\r\n")), (QStringList {"a", "b"}));
    EXPECT_EQ(splitTextLines(QStringLiteral("a\n\n")), (QStringList {"a", ""}));
    EXPECT_EQ(splitTextLines(QStringLiteral("\n")), QStringList {QString()});

    EXPECT_EQ(appendTextLines(QStringLiteral("body"), {"--", "sig"}), QStringLiteral("body\n--\nsig"));
    EXPECT_EQ(appendTextLines(QStringLiteral("body\n"), {"sig"}), QStringLiteral("body\nsig"));
    EXPECT_EQ(appendTextLines(QString(), {"sig"}), QStringLiteral("sig"));
    EXPECT_EQ(appendTextLines(QStringLiteral("body"), {}), QStringLiteral("body"));

    EXPECT_EQ(customerAddress(QStringLiteral("a@b.com , 1001 , 2026-01-02 , A B")), QStringLiteral("a@b.com"));
    EXPECT_EQ(customerAddress(QStringLiteral("\t  a@b.com\r")), QStringLiteral("a@b.com"));
    EXPECT_EQ(customerAddress(QStringLiteral("@b.com")), QStringLiteral("@b.com"));
    EXPECT_EQ(customerAddress(QStringLiteral("no address here")), QString());
    EXPECT_EQ(customerAddress(QString()), QString());
}

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
}

TEST_F(SendRunTest, SendsEachCustomerAndTheCopyThenLogsAndSavesSettings)
{
    og::test::MailSink sink;
    ASSERT_TRUE(sink.start());
    MailerInput in = input(sink.server());
    SendRun run;
    QStringList statuses;
    QList<QPair<int, int>> progress;
    run.setStatusHandler([&](const QString& s) { statuses << s; });
    run.setProgressHandler([&](int done, int total) { progress << qMakePair(done, total); });

    ASSERT_TRUE(run.prepare(in).isEmpty());
    const SendOutcome outcome = run.send(in);
    EXPECT_EQ(outcome.sent, 3);
    EXPECT_FALSE(outcome.stopped);
    EXPECT_EQ(statuses,
        (QStringList {"Preparing to send messages...", "Sending to alice@example.com",
            "Sent without encryption: 127.0.0.1 offers no STARTTLS.", "Sending to bob@example.org",
            "Sending to carol@example.net", "Sending to vendor@example.com", "Message sent to 3 customers", ""}));
    EXPECT_EQ(progress.last(), qMakePair(3, 3));
    EXPECT_EQ(progress.first(), qMakePair(0, 3));

    ASSERT_EQ(sink.waitForMessages(4), 4);
    const QStringList expected {"alice@example.com", "bob@example.org", "carol@example.net", "vendor@example.com"};
    for (int i = 1; i <= 4; ++i)
        EXPECT_EQ(sink.envelope(i)[QStringLiteral("rcpt_tos")].toArray().first().toString(), expected[i - 1]);

    // The body inline and once more as message.txt, written with CR LF.
    const QJsonObject root = sink.parsed(2)[QStringLiteral("root")].toObject();
    const QJsonArray parts = root[QStringLiteral("parts")].toArray();
    ASSERT_EQ(parts.size(), 2);
    EXPECT_TRUE(parts[0].toObject()[QStringLiteral("text")].toString().startsWith(
        QStringLiteral("Hello,\r\n.dot line\r\nBye")));
    EXPECT_EQ(parts[1].toObject()[QStringLiteral("filename")].toString(), QStringLiteral("message.txt"));
    EXPECT_EQ(parts[1].toObject()[QStringLiteral("content_type")].toString(), QStringLiteral("text/plain"));
    EXPECT_EQ(parts[1].toObject()[QStringLiteral("sha256")].toString(),
        QString::fromLatin1(
            QCryptographicHash::hash("Hello,\r\n.dot line\r\nBye", QCryptographicHash::Sha256).toHex()));
    EXPECT_EQ(readFile(folder_ + QStringLiteral("message.txt")), QByteArray("Hello,\r\n.dot line\r\nBye"));

    const QStringList log = logLines();
    ASSERT_GE(log.size(), 10);
    EXPECT_TRUE(log[0].startsWith(QStringLiteral("*** ")));
    EXPECT_TRUE(log[0].endsWith(QStringLiteral(" Using file ") + addressFile_));
    EXPECT_EQ(log.mid(1, 10),
        (QStringList {"Subject: New version", "Body:", "Hello,", ".dot line", "Bye",
            "Sent to these Customers:", "alice@example.com",
            "*** Sent without encryption: 127.0.0.1 offers no STARTTLS.", "bob@example.org", "carol@example.net"}));
    EXPECT_EQ(log.size(), 12) << "every line ends with CR LF, the copy is not logged";
    EXPECT_EQ(log.last(), QString());

    const QString ini = in.settingsPath;
    EXPECT_EQ(ProfileFile::readString(ini, "options", "efile", {}), addressFile_);
    EXPECT_EQ(ProfileFile::readString(ini, "user", "email", {}), QStringLiteral("vendor@example.com"));
    EXPECT_EQ(ProfileFile::readString(ini, "user", "company", {}), QStringLiteral("Vendor Ltd"));
    EXPECT_EQ(ProfileFile::readString(ini, "user", "server", {}), sink.server());
    EXPECT_TRUE(ProfileFile::readBool(ini, "options", "log", false));
    EXPECT_TRUE(ProfileFile::readBool(ini, "options", "audit", false));
    EXPECT_FALSE(ProfileFile::readBool(ini, "options", "sigfile", true));
}

TEST_F(SendRunTest, AttachmentsReplaceMessageTxtAndTheSameFileMayComeTwice)
{
    og::test::MailSink sink;
    ASSERT_TRUE(sink.start());
    ASSERT_TRUE(writeFile(addressFile_, "alice@example.com\r\n"));
    const QString attached = folder_ + QStringLiteral("readme.txt");
    ASSERT_TRUE(writeFile(attached, "read me\r\n"));
    MailerInput in = input(sink.server());
    in.attachments = {attached, attached};
    in.subject = QStringLiteral("   ");
    in.settings.copyToSelf = false;
    in.settings.wantLog = false;
    in.settingsChanged = false;
    SendRun run;
    run.prepare(in);
    EXPECT_EQ(run.send(in).sent, 1);

    ASSERT_EQ(sink.waitForMessages(1), 1);
    QThread::msleep(200);
    EXPECT_EQ(sink.messageCount(), 1) << "no copy to the sender when switched off";
    const QJsonObject parsed = sink.parsed(1);
    const QJsonArray parts = parsed[QStringLiteral("root")].toObject()[QStringLiteral("parts")].toArray();
    ASSERT_EQ(parts.size(), 3);
    EXPECT_EQ(parts[1].toObject()[QStringLiteral("filename")].toString(), QStringLiteral("readme.txt"));
    EXPECT_EQ(parts[2].toObject()[QStringLiteral("filename")].toString(), QStringLiteral("readme.txt"));
    bool sawNone = false;
    for (const QJsonValue& header : parsed[QStringLiteral("headers")].toArray())
        if (header.toArray()[0].toString() == QLatin1String("Subject"))
            sawNone = header.toArray()[1].toString() == QLatin1String("None");
    EXPECT_TRUE(sawNone) << "a blank subject goes out as None";
    EXPECT_FALSE(QFile::exists(folder_ + QStringLiteral("message.txt")));
    EXPECT_FALSE(QFile::exists(folder_ + QStringLiteral("log.txt")));
    EXPECT_FALSE(ProfileFile::readString(in.settingsPath, "user", "email", {}).size())
        << "settings unchanged are not written";
    EXPECT_EQ(ProfileFile::readString(in.settingsPath, "options", "efile", {}), addressFile_);
}

TEST_F(SendRunTest, RefusedOrLostCustomersAreSkippedWhileRunWideFailuresEndTheRun)
{
    using og::test::SmtpAnswers;
    SmtpAnswers refuse550, dropAfterData, dropAtRcpt, badLogin;
    refuse550.rcpt = "550 5.1.1 <d@example.com>: Recipient address rejected: User unknown";
    dropAfterData.dropBeforeAnswer = 6; // the data's final "." has arrived
    dropAtRcpt.dropBeforeAnswer = 4;
    badLogin.ehlo = {"250-test.server", "250 AUTH PLAIN"};
    badLogin.authPassword = "535 5.7.8 Authentication credentials invalid";
    struct Case {
        const char* name;
        std::map<int, SmtpAnswers> connections; // by connection number; the rest accept
        std::vector<std::string> delivered;
        QStringList tail; // the log's last lines
        QString failure;  // empty: the run completes
        bool login = false;
    };
    const QString ended = QStringLiteral("*** run ended at %1 (%2 of 6 customers sent)");
    const std::vector<Case> cases {
        {"550 at the fourth", {{4, refuse550}},
            {"a@x.com", "b@x.com", "c@x.com", "e@x.com", "f@x.com", "vendor@example.com"},
            {"d@x.com", "*** refused: " + QString::fromStdString(refuse550.rcpt.lines[0]), "e@x.com", "f@x.com",
                "*** Message sent to 5 customers", "*** 1 refused: d@x.com", ""},
            {}},
        {"lost after the data at the third", {{3, dropAfterData}},
            {"a@x.com", "b@x.com", "c@x.com", "d@x.com", "e@x.com", "f@x.com", "vendor@example.com"},
            {"c@x.com",
                "*** not known whether sent (the connection broke after the message had gone): Connection Closed "
                "Gracefully.",
                "d@x.com", "e@x.com", "f@x.com", "*** Message sent to 5 customers",
                "*** 1 not known whether sent (the connection broke after the message had gone): c@x.com", ""},
            {}},
        {"lost twice running", {{2, dropAtRcpt}, {3, dropAtRcpt}}, {"a@x.com"},
            {"c@x.com", "*** deferred (refused for now; resume to try again): Connection Closed Gracefully.",
                "*** run ended at c@x.com: the connection was lost twice running (1 of 6 customers sent)", ""},
            "Connection Closed Gracefully."},
        {"login refused", {{1, badLogin}}, {},
            {"a@x.com", "*** not sent: 535 5.7.8 Authentication credentials invalid", ended.arg("a@x.com").arg(0), ""},
            "535 5.7.8 Authentication credentials invalid", true},
    };
    ASSERT_TRUE(writeFile(addressFile_, "a@x.com\nb@x.com\nc@x.com\nd@x.com\ne@x.com\nf@x.com\n"));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QFile::remove(folder_ + QStringLiteral("log.txt"));
        QFile::remove(folder_ + QStringLiteral("ordergate.ini"));
        og::test::ScriptedSmtpServer server;
        for (const auto& [n, answers] : c.connections)
            server.AnswerConnection(n, answers);
        MailerInput in = input(QString::fromStdString(server.Address()));
        if (c.login) {
            in.settings.userName = QStringLiteral("vendor");
            in.password = QStringLiteral("wrong");
            in.settings.security = MailerSettings::Security::None;
            in.settings.allowPlainPassword = true;
        }
        SendRun run;
        QStringList statuses;
        run.setStatusHandler([&](const QString& s) { statuses << s; });
        run.prepare(in);
        SendOutcome outcome;
        try {
            outcome = run.send(in);
            EXPECT_TRUE(c.failure.isEmpty()) << "the run completed";
            EXPECT_EQ(outcome.sent, 5);
            EXPECT_EQ(
                statuses.mid(statuses.size() - 3, 2), c.tail.mid(c.tail.size() - 3, 2).replaceInStrings("*** ", ""))
                << "the summary ends the statuses, before the settings are saved";
            EXPECT_EQ(ProfileFile::readString(in.settingsPath, "user", "email", {}), in.settings.sender)
                << "a completed run saves the settings even with some not sent";
        } catch (const SendFailure& failure) {
            EXPECT_EQ(failure.message(), c.failure);
            EXPECT_EQ(ProfileFile::readString(in.settingsPath, "user", "email", {}), QString());
        }
        server.Stop();
        EXPECT_EQ(server.Delivered(), c.delivered);
        const QStringList log = logLines();
        EXPECT_EQ(log.mid(log.size() - c.tail.size()), c.tail);
        const int index = int(log.indexOf(c.tail.first()));
        EXPECT_TRUE(statuses.contains(QStringLiteral("Sending to ") + c.tail.first()));
        EXPECT_GT(index, 0);
    }
}

// What the server says decides what is retried, what stays refused and what
// ends the run at once; whatever is left, a resumed run sends.
TEST_F(SendRunTest, TemporaryRefusalsAreRetriedWhileRefusalsOfTheSenderEndTheRunAtOnce)
{
    using og::test::SmtpAnswers;
    SmtpAnswers busy, closing, sender, quota, rejected, relay;
    busy.rcpt = "450 4.2.1 Mailbox busy, try later";
    closing.rcpt = "421 4.3.2 Service shutting down";
    sender.rcpt = "553 5.7.1 <vendor@example.com>: Sender address rejected: not owned by user";
    quota.accepted = "550 5.4.5 Daily user sending limit exceeded";
    rejected.accepted = "554 5.6.0 Message rejected as spam";
    relay.rcpt = "554 5.7.1 <a@x.com>: Relay access denied";
    const std::vector<std::string> all {"a@x.com", "b@x.com", "c@x.com", "d@x.com", "e@x.com", "f@x.com"};
    auto plus = [](std::vector<std::string> list, std::initializer_list<std::string> more) {
        list.insert(list.end(), more);
        return list;
    };
    struct Case {
        const char* name;
        std::map<int, SmtpAnswers> connections; // 0: every connection
        std::vector<std::string> delivered;
        QString logLine;                  // a line the log holds
        QString failure;                  // what the run ended with; empty: it completed
        std::vector<std::string> resumed; // what a resumed run then delivers; empty: no resume
        QString sender = QStringLiteral("vendor@example.com");
    };
    const std::vector<Case> cases {
        {"450 at the fourth, retried once", {{4, busy}},
            {"a@x.com", "b@x.com", "c@x.com", "e@x.com", "f@x.com", "d@x.com", "vendor@example.com"},
            "*** deferred (refused for now; resume to try again), to be tried again: 450 4.2.1 Mailbox busy, try later",
            {}, {}},
        {"421 at the third, retried once", {{3, closing}},
            {"a@x.com", "b@x.com", "d@x.com", "e@x.com", "f@x.com", "c@x.com", "vendor@example.com"},
            "*** deferred (refused for now; resume to try again), to be tried again: 421 4.3.2 Service shutting down",
            {}, {}},
        {"450 at every try of the fourth", {{4, busy}, {7, busy}, {8, busy}},
            {"a@x.com", "b@x.com", "c@x.com", "e@x.com", "f@x.com", "vendor@example.com"},
            "*** 1 deferred (refused for now; resume to try again): d@x.com", {}, {"d@x.com"}},
        {"554 after the final dot", {{2, rejected}},
            {"a@x.com", "c@x.com", "d@x.com", "e@x.com", "f@x.com", "vendor@example.com"},
            "*** refused: 554 5.6.0 Message rejected as spam", {}, {}},
        {"the sender refused", {{0, sender}}, {}, "*** run ended at a@x.com (0 of 6 customers sent)",
            "does not let this login send as vendor@example.com", plus(all, {"vendor@example.com"})},
        {"the sending limit", {{3, quota}}, {"a@x.com", "b@x.com"}, "*** run ended at c@x.com (2 of 6 customers sent)",
            "The provider's sending limit is reached: resume later.",
            {"c@x.com", "d@x.com", "e@x.com", "f@x.com", "vendor@example.com"}},
        {"the same refusal for the first three", {{0, relay}}, {}, "*** run ended at c@x.com (0 of 6 customers sent)",
            "refused the first 3 customers with the same reply", plus(all, {"vendor@example.com"})},
        {"no sender: nothing went", {}, {}, "*** not sent: From not specified.", "From not specified.", {}, ""},
    };
    ASSERT_TRUE(writeFile(addressFile_, "a@x.com\nb@x.com\nc@x.com\nd@x.com\ne@x.com\nf@x.com\n"));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QFile::remove(folder_ + QStringLiteral("log.txt"));
        og::test::ScriptedSmtpServer server(c.connections.count(0) ? c.connections.at(0) : SmtpAnswers());
        for (const auto& [n, answers] : c.connections)
            if (n > 0)
                server.AnswerConnection(n, answers);
        MailerInput in = input(QString::fromStdString(server.Address()));
        in.settings.sender = c.sender;
        SendRun run;
        run.prepare(in);
        QString failure;
        try {
            const SendOutcome outcome = run.send(in);
            EXPECT_EQ(outcome.done(), 6) << "every customer has an outcome";
        } catch (const SendFailure& ended) {
            failure = ended.message();
        }
        server.Stop();
        EXPECT_EQ(server.Delivered(), c.delivered);
        EXPECT_TRUE(c.failure.isEmpty() ? failure.isEmpty() : failure.contains(c.failure)) << failure.toStdString();
        EXPECT_TRUE(logLines().contains(c.logLine)) << logLines().join(u'\n').toStdString();
        if (c.resumed.empty())
            continue;
        og::test::ScriptedSmtpServer fine;
        in.settings.server = QString::fromStdString(fine.Address());
        SendRun again;
        again.prepare(in);
        EXPECT_EQ(again.decideStart(in, ResumeAnswer::Resume, {}), RunStart::Resumed);
        EXPECT_TRUE(again.send(in).allSent());
        fine.Stop();
        EXPECT_EQ(fine.Delivered(), c.resumed);
    }
}

// Several messages a connection: each starts with RSET on the connection
// the last one left, a refused address keeps it, a lost one costs only the
// customer in flight.
TEST_F(SendRunTest, MessagesShareAConnectionUntilItCarriedItsShare)
{
    og::test::SmtpAnswers refuseB, dropAfterC;
    refuseB.custom = [](og::test::ServerSession& s, const std::string& line) {
        return line == "RCPT to:<b@x.com>" && (s.Reply("550 5.1.1 No such user"), true);
    };
    dropAfterC.dropBeforeAnswer = 16; // EHLO, then five lines a message: c's final "."
    struct Case {
        const char* name;
        og::test::SmtpAnswers first; // the first connection's script
        int connections;             // the copy's included
        std::vector<std::string> delivered;
        QStringList unknown;
    };
    const std::vector<Case> cases {
        {"four a connection", {}, 3,
            {"a@x.com", "b@x.com", "c@x.com", "d@x.com", "e@x.com", "f@x.com", "vendor@example.com"}, {}},
        {"a refused address keeps it", refuseB, 3,
            {"a@x.com", "c@x.com", "d@x.com", "e@x.com", "f@x.com", "vendor@example.com"}, {}},
        {"lost after c's data", dropAfterC, 3,
            {"a@x.com", "b@x.com", "c@x.com", "d@x.com", "e@x.com", "f@x.com", "vendor@example.com"}, {"c@x.com"}},
    };
    ASSERT_TRUE(writeFile(addressFile_, "a@x.com\nb@x.com\nc@x.com\nd@x.com\ne@x.com\nf@x.com\n"));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        og::test::ScriptedSmtpServer server;
        server.AnswerConnection(1, c.first);
        MailerInput in = input(QString::fromStdString(server.Address()));
        in.settings.perConnection = 4;
        SendRun run;
        run.prepare(in);
        const SendOutcome outcome = run.send(in);
        server.Stop();
        EXPECT_EQ(server.Accepted(), c.connections);
        EXPECT_EQ(server.Delivered(), c.delivered);
        EXPECT_EQ(outcome.unknown, c.unknown);
        const std::string first = server.Received().front();
        EXPECT_EQ(first.find("Quit"), first.rfind("Quit")) << "one farewell";
    }
}

TEST_F(SendRunTest, StopClosesTheConnectionUnderWayAtOnce)
{
    // Stop while bob's connection opens (not sent), or while a server that
    // never answers holds bob's message (unknown: it may have arrived).
    for (const bool afterData : {false, true}) {
        SCOPED_TRACE(afterData ? "after the data" : "before the data");
        QFile::remove(folder_ + QStringLiteral("log.txt"));
        og::test::SmtpAnswers silent;
        silent.silentFrom = afterData ? 6 : 0; // after the data's end, or no greeting
        og::test::ScriptedSmtpServer server;
        server.AnswerConnection(2, silent);
        SendRun run;
        std::chrono::steady_clock::time_point stopAt;
        std::thread stopper;
        auto stop = [&] {
            stopper = std::thread([&] {
                QThread::msleep(200);
                stopAt = std::chrono::steady_clock::now();
                run.requestStop();
            });
        };
        QStringList statuses;
        run.setStatusHandler([&](const QString& s) {
            statuses << s;
            if (s == QStringLiteral("Sending to bob@example.org"))
                stop();
        });
        MailerInput in = input(QString::fromStdString(server.Address()));
        in.settings.timeoutSeconds = 60;
        run.prepare(in);
        const SendOutcome outcome = run.send(in);
        const auto took = std::chrono::steady_clock::now() - stopAt;
        stopper.join();
        EXPECT_LT(took, std::chrono::seconds(5)) << "not the 60 s time-out";
        EXPECT_TRUE(outcome.stopped);
        EXPECT_EQ(outcome.sent, 1);
        EXPECT_EQ(outcome.total, 3);
        const QString next = afterData ? QStringLiteral("carol@example.net") : QStringLiteral("bob@example.org");
        EXPECT_EQ(outcome.nextAddress, next);
        EXPECT_EQ(outcome.unknown, afterData ? QStringList {"bob@example.org"} : QStringList {});
        EXPECT_EQ(statuses.last(),
            QStringLiteral("Stopped before %1: 1 of 3 customers sent").arg(next) +
                (afterData ? QStringLiteral("; 1 not known whether sent (the connection broke after the message had "
                                            "gone): bob@example.org")
                           : QString()));
        const QStringList log = logLines();
        EXPECT_EQ(log.mid(log.size() - 6, 3),
            (QStringList {
                "alice@example.com", "*** Sent without encryption: 127.0.0.1 offers no STARTTLS.", "bob@example.org"}));
        EXPECT_TRUE(log[log.size() - 3].startsWith(afterData ? "*** not known whether sent" : "*** not sent: Stopped"));
        EXPECT_TRUE(
            log[log.size() - 2].startsWith(QStringLiteral("*** Stopped before %1 (1 of 3 customers sent)").arg(next)));
        server.Stop();
        EXPECT_EQ(server.Accepted(), 2) << "nothing after the stop";
        EXPECT_EQ(ProfileFile::readString(in.settingsPath, "user", "email", {}), QString());
    }
}

TEST_F(SendRunTest, ResumeAfterAStopSendsOnlyTheRemainingThenNothingIsLeft)
{
    ASSERT_TRUE(writeFile(addressFile_, "a@x.com\nb@x.com\nc@x.com\nd@x.com\ne@x.com\nf@x.com\n"));
    og::test::ScriptedSmtpServer server;
    MailerInput in = input(QString::fromStdString(server.Address()));
    SendRun run;
    run.setStatusHandler([&](const QString& s) {
        if (s == QStringLiteral("Sending to d@x.com"))
            run.requestStop(); // d's connection never gets going
    });
    run.prepare(in);
    EXPECT_FALSE(run.resumeState(in).unfinished) << "no earlier run";
    EXPECT_TRUE(run.send(in).stopped);

    SendRun again;
    again.prepare(in);
    const ResumeState state = again.resumeState(in);
    EXPECT_TRUE(state.unfinished);
    EXPECT_EQ(state.question(), QStringLiteral("Resume: 3 already sent, send to the remaining 3?"));
    EXPECT_TRUE(QFileInfo(state.journal).fileName().startsWith(QStringLiteral("journal_email_Widget_")));
    again.setResume(true);
    const SendOutcome outcome = again.send(in);
    EXPECT_TRUE(outcome.resumed);
    EXPECT_EQ(outcome.alreadySent, 3);
    EXPECT_EQ(outcome.sent, 3);
    server.Stop();
    EXPECT_EQ(server.Delivered(),
        (std::vector<std::string> {
            "a@x.com", "b@x.com", "c@x.com", "d@x.com", "e@x.com", "f@x.com", "vendor@example.com"}));
    const QStringList log = logLines();
    const qsizetype resumedHeader =
        log.lastIndexOf(QStringLiteral("*** Resumed: 3 already sent, sending to the remaining 3"));
    EXPECT_GT(resumedHeader, 0);
    EXPECT_EQ(log.mid(log.size() - 5),
        (QStringList {
            "d@x.com", "*** Sent without encryption: 127.0.0.1 offers no STARTTLS.", "e@x.com", "f@x.com", ""}));

    const ResumeState after = again.resumeState(in);
    EXPECT_FALSE(after.unfinished);
    EXPECT_TRUE(after.finished) << "the journal of a finished run leaves nothing to resume";
    in.subject = QStringLiteral("Another message");
    EXPECT_FALSE(again.resumeState(in).finished) << "one journal per message";
}

TEST_F(SendRunTest, AJournalThatCannotBeWrittenSendsNothing)
{
    ASSERT_TRUE(writeFile(addressFile_, "a@x.com\n"));
    og::test::ScriptedSmtpServer server;
    const MailerInput in = input(QString::fromStdString(server.Address()));
    SendRun run;
    run.prepare(in);
    // A folder where the journal would go: without it a resume could send twice.
    ASSERT_TRUE(QDir().mkpath(run.resumeState(in).journal));
    EXPECT_THROW(run.send(in), SendFailure);
    server.Stop();
    EXPECT_TRUE(server.Delivered().empty());
}

TEST_F(SendRunTest, FourConnectionsDeliverEachMessageOnceAndLogInFileOrderAtTheRate)
{
    og::test::MailSink sink;
    ASSERT_TRUE(sink.start());
    QStringList customers;
    QByteArray file;
    for (int i = 1; i <= 8; ++i) {
        customers << QStringLiteral("c%1@example.com").arg(i);
        file += customers.last().toUtf8() + "\r\n";
    }
    ASSERT_TRUE(writeFile(addressFile_, file));
    MailerInput in = input(sink.server());
    in.settings.connections = 4;
    in.settings.ratePerMinute = 600; // one message every 100 ms, over all connections
    SendRun run;
    run.prepare(in);
    const auto start = std::chrono::steady_clock::now();
    const SendOutcome outcome = run.send(in);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(800)) << "9 messages at the rate";
    EXPECT_EQ(outcome.sent, 8);
    EXPECT_TRUE(outcome.allSent());
    ASSERT_EQ(sink.waitForMessages(9), 9);
    QThread::msleep(200);
    ASSERT_EQ(sink.messageCount(), 9);
    QStringList received;
    for (int i = 1; i <= 9; ++i)
        received << sink.envelope(i)[QStringLiteral("rcpt_tos")].toArray().first().toString();
    EXPECT_EQ(received.last(), QStringLiteral("vendor@example.com")) << "the copy comes after every customer";
    received.sort();
    EXPECT_EQ(received, (customers + QStringList {"vendor@example.com"}));
    const QStringList log = logLines();
    EXPECT_EQ(log.mid(log.size() - 10),
        (QStringList {customers[0], "*** Sent without encryption: 127.0.0.1 offers no STARTTLS."} + customers.mid(1) +
            QStringList {QString()}));
}

TEST_F(SendRunTest, StopEndsEveryParallelConnectionAtOnce)
{
    og::test::SmtpAnswers silent;
    silent.silentFrom = 0;
    og::test::ScriptedSmtpServer server(silent);
    MailerInput in = input(QString::fromStdString(server.Address()));
    in.settings.connections = 3;
    in.settings.timeoutSeconds = 60;
    SendRun run;
    run.prepare(in);
    std::thread stopper([&] {
        QThread::msleep(300);
        run.requestStop();
    });
    const auto start = std::chrono::steady_clock::now();
    const SendOutcome outcome = run.send(in);
    stopper.join();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5)) << "not the 60 s time-out";
    EXPECT_TRUE(outcome.stopped);
    EXPECT_EQ(outcome.sent, 0);
    EXPECT_EQ(outcome.nextAddress, QStringLiteral("alice@example.com"));
}

// A refusal of the client at c1 ends a run of two connections once c2 has begun on the other:
// whatever that one delivered is in the log, its count and the journal.
TEST_F(SendRunTest, AParallelRunThatEndsEarlyAccountsForWhatTheOthersDelivered)
{
    ASSERT_TRUE(writeFile(addressFile_, "c1@x.com\nc2@x.com\nc3@x.com\nc4@x.com\nc5@x.com\n"));
    std::atomic<bool> secondBegun {false};
    const std::string clientRejected = "554 5.7.1 <c1@x.com>: Client host rejected: Access denied";
    og::test::SmtpAnswers answers;
    answers.custom = [&](og::test::ServerSession& s, const std::string& line) {
        for (int i = 0; line == "RCPT to:<c1@x.com>" && i < 1000 && !secondBegun; ++i)
            QThread::msleep(10);
        return line == "RCPT to:<c1@x.com>" && (s.Reply(clientRejected), true);
    };
    og::test::ScriptedSmtpServer server(answers);
    MailerInput in = input(QString::fromStdString(server.Address()));
    in.settings.connections = 2;
    SendRun run;
    run.setStatusHandler([&](const QString& s) { secondBegun = secondBegun || s == "Sending to c2@x.com"; });
    run.prepare(in);
    EXPECT_THROW(run.send(in), SendFailure);
    server.Stop();
    QStringList expected {"c1@x.com", "*** Sent without encryption: 127.0.0.1 offers no STARTTLS.",
        "*** not sent: " +
            withRefusalHint(QString::fromStdString(clientRejected), TReplyVerdict::Client, "vendor@example.com")
                .replace(u'\n', u' ')};
    for (const std::string& address : server.Delivered())
        expected << QString::fromStdString(address);
    const int sent = int(expected.size()) - 3;
    EXPECT_GE(sent, 1) << "c2";
    expected << QStringLiteral("*** run ended at c1@x.com (%1 of 5 customers sent)").arg(sent) << QString();
    const QStringList log = logLines();
    EXPECT_EQ(log.mid(log.indexOf("c1@x.com")).join(u'\n').toStdString(), expected.join(u'\n').toStdString());
    EXPECT_EQ(run.resumeState(in).alreadySent, sent) << "the journal";
}

TEST_F(SendRunTest, SignatureIsReadOnlyWhenSwitchedOnAndPresent)
{
    const QString signature = folder_ + QStringLiteral("sig.txt");
    ASSERT_TRUE(writeFile(signature, "-- \r\nThe Vendor\r\n"));
    MailerInput in = input(QStringLiteral("mail.example.com"));
    SendRun run;
    in.settings.useSignature = false;
    in.settings.signatureFile = signature;
    EXPECT_TRUE(run.prepare(in).isEmpty());
    in.settings.useSignature = true;
    EXPECT_EQ(run.prepare(in), (QStringList {"-- ", "The Vendor"}));
    in.settings.signatureFile = folder_ + QStringLiteral("missing.txt");
    EXPECT_TRUE(run.prepare(in).isEmpty()) << "a missing signature is skipped without a message";
}

TEST_F(SendRunTest, UnwritableSettingsFailThePreparation)
{
    MailerInput in = input(QStringLiteral("mail.example.com"));
    in.settingsPath = folder_ + QStringLiteral("no/such/folder/ordergate.ini");
    SendRun run;
    EXPECT_THROW(run.prepare(in), SendFailure);
}

TEST_F(SendRunTest, AFullDiskSendsNothingAndKeepsTheOldMessageTxt)
{
    og::test::ScriptedSmtpServer server;
    ASSERT_TRUE(writeFile(folder_ + QStringLiteral("message.txt"), "last run's text"));
    MailerInput in = input(QString::fromStdString(server.Address()));
    in.body = MessageBody(QStringList(40, QString(60, u'x')));
    SendRun run;
    run.prepare(in);
    try {
        og::test::FileSizeLimit full(1024);
        run.send(in);
        FAIL() << "the run must fail";
    } catch (const SendFailure& failure) {
        EXPECT_EQ(failure.what(), "Unable to write to " + folder_.toStdString() + "message.txt: " + strerror(EFBIG));
    }
    server.Stop();
    EXPECT_EQ(server.Accepted(), 0);
    EXPECT_EQ(readFile(folder_ + QStringLiteral("message.txt")), QByteArray("last run's text"));
}

namespace {

TEST(MailerAttachments, TypeFromNameAndContent)
{
    QTemporaryDir dir;
    const std::vector<std::tuple<const char*, QByteArray, std::string>> cases {
        {"notes.txt",
            "Gr\xc3\xbc\xc3\x9f"
            "e\r\n",
            "text/plain; charset=utf-8"},
        {"latin.txt",
            "Gr\xfc\xdf"
            "e\r\n",
            "application/octet-stream"},
        {"list.csv", "a,b\n", "text/csv; charset=utf-8"},
        {"report.pdf", "%PDF-1.4\n", "application/pdf"},
        {"noname", QByteArray("\x00\x01\x02\xff", 4), "application/octet-stream"},
        {"empty", "", "application/octet-stream"},
        {"empty.pdf", "", "application/pdf"},
    };
    for (const auto& [name, bytes, type] : cases) {
        const QString path = dir.filePath(QString::fromLatin1(name));
        ASSERT_TRUE(writeFile(path, bytes));
        EXPECT_EQ(attachmentType(path), type) << name;
    }
}

} // namespace
