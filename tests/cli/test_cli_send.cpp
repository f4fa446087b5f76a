// ordergate-cli send, run as a process against SMTP servers the tests start
// on 127.0.0.1.
#include "tests/support/FileTestSupport.h"
#include "tests/support/MailSink.h"
#include "tests/support/ScriptedSmtpServer.h"

#include "CliProcess.h"

#include <QCryptographicHash>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QThread>

#include <atomic>
#include <csignal>
#include <optional>

#include <unistd.h>

#include <gtest/gtest.h>

using og::test::readFile;
using og::test::writeFile;

namespace {

using Outcome = og::test::CliOutcome;

class SendCommand : public ::testing::Test {
protected:
    QTemporaryDir work;    // the working folder: log.txt lands here
    QTemporaryDir program; // --dir: ordergate.ini and message.txt

    void SetUp() override
    {
        ASSERT_TRUE(writeFile(work.filePath("email_Tool.txt"),
            "alice@example.com , 1001 , Alice Smith\r\n"
            "  bob@example.org\r\n"
            "no customer here\r\n"));
        ASSERT_TRUE(writeFile(work.filePath("body.txt"), "Hello,\r\n.hidden dot\r\nBye\r\n"));
    }

    Outcome run(const QStringList& args) { return og::test::runCli(work.path(), QStringList {"send"} + args); }
    QString ini() const { return program.filePath("ordergate.ini"); }
};

} // namespace

TEST_F(SendCommand, SendsToEveryCustomerAndTheSenderLikeTheWindow)
{
    og::test::MailSink sink;
    ASSERT_TRUE(sink.start());
    const Outcome o = run({"email_Tool.txt", "--subject", "Tool 2.0", "--body-file", "body.txt", "--from",
        "vendor@example.com", "--org", "Vendor Ltd", "--server", sink.server(), "--dir", program.path()});
    ASSERT_EQ(o.status, 0) << o.err.toStdString();
    EXPECT_EQ(o.err, QString());
    EXPECT_EQ(o.out,
        "Preparing to send messages...\n"
        "Sending to alice@example.com\n"
        "Sent without encryption: 127.0.0.1 offers no STARTTLS.\n"
        "Sending to bob@example.org\n"
        "Sending to vendor@example.com\n"
        "Message sent to 2 customers\n");
    ASSERT_EQ(sink.waitForMessages(3), 3);
    EXPECT_EQ(sink.envelope(2)["rcpt_tos"].toArray().first().toString(), QStringLiteral("bob@example.org"));
    EXPECT_EQ(sink.envelope(3)["rcpt_tos"].toArray().first().toString(), QStringLiteral("vendor@example.com"));
    const QJsonArray parts = sink.parsed(1)["root"].toObject()["parts"].toArray();
    ASSERT_EQ(parts.size(), 2);
    EXPECT_TRUE(parts[0].toObject()["text"].toString().startsWith("Hello,\r\n.hidden dot\r\nBye"));
    EXPECT_EQ(parts[1].toObject()["filename"].toString(), QStringLiteral("message.txt"));

    EXPECT_EQ(readFile(program.filePath("message.txt")), QByteArray("Hello,\r\n.hidden dot\r\nBye"));
    const QString log = QString::fromUtf8(readFile(work.filePath("log.txt")));
    EXPECT_TRUE(log.startsWith("*** ")) << log.toStdString();
    EXPECT_TRUE(log.contains(" Using file " + QDir(work.path()).absoluteFilePath("email_Tool.txt") + "\r\n"));
    EXPECT_TRUE(log.endsWith("Subject: Tool 2.0\r\nBody:\r\nHello,\r\n.hidden dot\r\nBye\r\n"
                             "Sent to these Customers:\r\nalice@example.com\r\n"
                             "*** Sent without encryption: 127.0.0.1 offers no STARTTLS.\r\nbob@example.org\r\n"))
        << log.toStdString();
    const QString settings = QString::fromUtf8(readFile(ini()));
    EXPECT_TRUE(settings.contains("efile=" + QDir(work.path()).absoluteFilePath("email_Tool.txt")));
    EXPECT_FALSE(settings.contains("email=")) << "the command line does not save the sender";
}

TEST_F(SendCommand, TakesSenderServerAndSwitchesFromTheSettingsFile)
{
    og::test::MailSink sink;
    ASSERT_TRUE(sink.start());
    ASSERT_TRUE(writeFile(ini(),
        "[user]\r\nemail=saved@example.com\r\nserver=" + sink.server().toUtf8() +
            "\r\n[options]\r\naudit=0\r\nlog=0\r\nrate=6000\r\nconnections=4\r\n"
            "[provider Shop relay]\r\nservers=127.0.0.1\r\nrate=600\r\nconnections=1\r\n"));
    ASSERT_TRUE(writeFile(work.filePath("sig.txt"), "-- \r\nSaved Vendor\r\n"));
    ASSERT_TRUE(writeFile(work.filePath("notes.pdf"), "%PDF-1.4 fake"));
    const Outcome o = run({"email_Tool.txt", "--subject", "   ", "--body-file", "body.txt", "--signature", "sig.txt",
        "--attach", "notes.pdf", "--attach", "notes.pdf", "--dir", program.path()});
    ASSERT_EQ(o.status, 0) << o.err.toStdString();
    EXPECT_TRUE(o.out.endsWith("Message sent to 2 customers\n"));
    EXPECT_TRUE(o.out.contains("Shop relay allows no more: lowered the rate from 6000 to 600 a minute and the "
                               "connections from 4 to 1 (a higher value only with --rate or --connections"))
        << o.out.toStdString();
    EXPECT_TRUE(o.out.contains("\nShop relay: 2 customers at 600 a minute: about a minute\n"));
    EXPECT_FALSE(o.out.contains("saved@example.com")) << "no copy to the sender with audit=0";
    ASSERT_EQ(sink.waitForMessages(2), 2);
    QThread::msleep(200);
    EXPECT_EQ(sink.messageCount(), 2);
    EXPECT_EQ(sink.envelope(1)["mail_from"].toString(), QStringLiteral("saved@example.com"));
    const QJsonObject parsed = sink.parsed(1);
    const QJsonArray parts = parsed["root"].toObject()["parts"].toArray();
    ASSERT_EQ(parts.size(), 3);
    EXPECT_EQ(parts[0].toObject()["text"].toString().left(43),
        QStringLiteral("Hello,\r\n.hidden dot\r\nBye\r\n-- \r\nSaved Vendor"));
    EXPECT_EQ(parts[1].toObject()["filename"].toString(), QStringLiteral("notes.pdf"));
    EXPECT_EQ(parts[2].toObject()["filename"].toString(), QStringLiteral("notes.pdf"));
    bool subjectNone = false;
    for (const QJsonValue& header : parsed["headers"].toArray())
        subjectNone |= header.toArray()[0].toString() == "Subject" && header.toArray()[1].toString() == "None";
    EXPECT_TRUE(subjectNone);
    EXPECT_FALSE(QFile::exists(work.filePath("log.txt"))) << "log=0 in the settings";
    EXPECT_FALSE(QFile::exists(program.filePath("message.txt"))) << "attachments given";
}

TEST_F(SendCommand, FailuresGoToStandardErrorWithStatusOne)
{
    og::test::SmtpAnswers refuse;
    refuse.rcpt = "550 5.1.1 No such user here";
    og::test::ScriptedSmtpServer server;
    server.AnswerConnection(2, refuse);
    ASSERT_GT(server.Port(), 0);
    Outcome o = run({"email_Tool.txt", "--subject", "S", "--body-file", "body.txt", "--from", "vendor@example.com",
        "--server", QString::fromStdString(server.Address()), "--dir", program.path(), "--no-log"});
    EXPECT_EQ(o.status, 3) << "completed with some not sent";
    EXPECT_EQ(o.err, "bob@example.org: refused: 550 5.1.1 No such user here\n") << "as it happens";
    EXPECT_EQ(o.out,
        "Preparing to send messages...\nSending to alice@example.com\n"
        "Sent without encryption: 127.0.0.1 offers no STARTTLS.\nSending to bob@example.org\n"
        "Sending to vendor@example.com\nMessage sent to 1 customers\n1 refused: bob@example.org\n");
    EXPECT_EQ(server.Accepted(), 3);

    og::test::SmtpAnswers busy; // a 4xx greeting is waited out; a 5xx one ends the run
    busy.greeting = "554 5.3.2 No service here";
    og::test::ScriptedSmtpServer closed(busy);
    o = run({"email_Tool.txt", "--subject", "S", "--body-file", "body.txt", "--from", "vendor@example.com", "--server",
        QString::fromStdString(closed.Address()), "--dir", program.path(), "--no-log"});
    EXPECT_EQ(o.status, 1) << "a failure that ends the run";
    EXPECT_EQ(o.err,
        "554 5.3.2 No service here\nTo go on with the customers not yet sent: ordergate-cli send email_Tool.txt "
        "--subject S --body-file body.txt --from vendor@example.com --server " +
            QString::fromStdString(closed.Address()) + " --dir " + program.path() + " --no-log --resume\n")
        << "the command that resumes";

    o = run({"email_Tool.txt", "--subject", "S", "--body-file", "body.txt", "--server", "mail.example.com", "--dir",
        program.path()});
    EXPECT_EQ(o.status, 1);
    EXPECT_EQ(o.err, "You must enter your correct email address\n");
    EXPECT_EQ(o.out, QString());

    ASSERT_TRUE(writeFile(work.filePath("empty.txt"), ""));
    o = run({"email_Tool.txt", "--subject", "S", "--body-file", "empty.txt", "--from", "a@b.c", "--server",
        "mail.example.com", "--dir", program.path()});
    EXPECT_EQ(o.status, 1);
    EXPECT_EQ(o.err, "You must enter something in your message\n");

    o = run({"missing.txt", "--subject", "S", "--body-file", "body.txt", "--dir", program.path()});
    EXPECT_EQ(o.err, "Invalid address file name\n");

    for (const QStringList& bad : {QStringList {"email_Tool.txt", "--body-file", "body.txt"},
             QStringList {"--subject", "S", "--body-file", "body.txt"},
             QStringList {"email_Tool.txt", "--subject", "S", "--body-file", "body.txt", "--bogus"},
             QStringList {"email_Tool.txt", "--subject", "S", "--body-file"}}) {
        o = run(bad);
        EXPECT_EQ(o.status, 2) << bad.join(' ').toStdString();
        EXPECT_TRUE(o.err.contains("Usage: ordergate-cli send")) << o.err.toStdString();
    }
    o = run({"--help"});
    EXPECT_EQ(o.status, 0);
    EXPECT_TRUE(o.out.contains("--body-file"));
}

TEST_F(SendCommand, AClosedStandardOutputNeverEndsTheRun)
{
    og::test::ScriptedSmtpServer server;
    // `send ... | head` once head has gone, SIGPIPE as a shell leaves it.
    const auto closedPipe = [] {
        int ends[2];
        if (::pipe(ends) == 0 && ::dup2(ends[1], 1) == 1)
            ::close(ends[0]);
        ::signal(SIGPIPE, SIG_DFL);
    };
    const Outcome o = og::test::runCli(work.path(),
        {"send", "email_Tool.txt", "--subject", "S", "--body-file", "body.txt", "--from", "vendor@example.com",
            "--server", QString::fromStdString(server.Address()), "--dir", program.path()},
        {}, closedPipe);
    EXPECT_EQ(o.status, 0) << "killed by SIGPIPE";
    EXPECT_TRUE(o.err.startsWith("ordergate-cli: standard output cannot be written (")) << o.err.toStdString();
    EXPECT_EQ(o.err.count('\n'), 1) << "said once";
    server.Stop();
    EXPECT_EQ(server.Delivered().size(), 3u) << "both customers and the copy";
}

TEST_F(SendCommand, BothSubcommandsReadTheirArgumentsTheSameWay)
{
    // "--opt=value" works as "--opt value" does: the parse passes and the
    // run fails on the missing address file.
    Outcome o = run({"missing.txt", "--subject=S", "--body-file=body.txt", "--dir=" + program.path()});
    EXPECT_EQ(o.status, 1);
    EXPECT_EQ(o.err, "Invalid address file name\n");
    for (const QStringList& bad : {QStringList {"send", "a.txt", "--subject", "S", "--subject=T", "--body-file", "b"},
             QStringList {"send", "a.txt", "--subject=S", "--body-file=b", "--no-copy=1"},
             QStringList {"make", "--product=a", "--product", "b"}, QStringList {"make", "--dir"}}) {
        o = og::test::runCli(work.path(), bad);
        EXPECT_EQ(o.status, 2) << bad.join(' ').toStdString();
        EXPECT_TRUE(o.err.startsWith("ordergate-cli " + bad[0] + ": ")) << o.err.toStdString();
        EXPECT_TRUE(o.err.contains("Usage: ordergate-cli " + bad[0])) << o.err.toStdString();
    }
}

// STARTTLS with login against aiosmtpd (tests/net/tls_sink.py: user "user",
// password "secret") and a certificate made here, trusted by --ca-file.
TEST_F(SendCommand, SendsOverStartTlsWithLoginAndKeepsThePasswordOutOfEverything)
{
    const QString cert = work.filePath("cert.pem"), key = work.filePath("key.pem");
    QProcess openssl;
    openssl.start("openssl",
        {"req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:P-256", "-nodes", "-days", "1", "-subj",
            "/CN=127.0.0.1", "-addext", "subjectAltName=IP:127.0.0.1", "-keyout", key, "-out", cert});
    ASSERT_TRUE(openssl.waitForFinished(30000) && openssl.exitCode() == 0) << openssl.readAllStandardError().data();
    QProcess sink;
    sink.start("/usr/bin/python3",
        {OG_SOURCE_DIR "/tests/net/tls_sink.py", "--mode", "starttls", "--cert", cert, "--key", key, "--auth",
            "--max-seconds", "60"});
    ASSERT_TRUE(sink.waitForReadyRead(10000));
    const QString server = "127.0.0.1:" + QString::fromLatin1(sink.readLine().trimmed());
    ASSERT_TRUE(writeFile(work.filePath("pw.txt"), "secret\n"));
    const QStringList common = {"email_Tool.txt", "--subject", "S", "--body-file", "body.txt", "--from",
        "vendor@example.com", "--server", server, "--dir", program.path(), "--security", "starttls", "--user", "user",
        "--ca-file", "cert.pem", "--helo", "client.example.com"};

    // From the environment, unless a password file is given.
    qputenv("ORDERGATE_SMTP_PASSWORD", "secre7");
    const auto unset = qScopeGuard([] { qunsetenv("ORDERGATE_SMTP_PASSWORD"); });
    Outcome o = run(common);
    EXPECT_EQ(o.status, 1);
    EXPECT_TRUE(o.err.startsWith("535 ")) << "the server's text: " << o.err.toStdString();
    EXPECT_FALSE(o.out.contains("Sending to bob")) << "the run ends at the first customer: " << o.out.toStdString();

    o = run(common + QStringList {"--password-file", "pw.txt"});
    ASSERT_EQ(o.status, 0) << o.err.toStdString();
    EXPECT_TRUE(o.out.startsWith("Preparing to send messages...\nSending to alice@example.com\nEncrypted with TLSv1.3; "
                                 "the certificate of 127.0.0.1 is trusted.\n"))
        << o.out.toStdString();
    // Not checking is said on every run, to the log as well.
    const Outcome unchecked = run(common + QStringList {"--password-file", "pw.txt", "--no-verify", "--no-copy"});
    ASSERT_EQ(unchecked.status, 0) << unchecked.err.toStdString();
    EXPECT_TRUE(unchecked.out.contains("; the certificate of 127.0.0.1 is NOT checked, as set.\n"))
        << unchecked.out.toStdString();
    EXPECT_TRUE(readFile(work.filePath("log.txt")).contains("is NOT checked, as set.\r\nbob@example.org\r\n"));
    sink.closeWriteChannel();
    ASSERT_TRUE(sink.waitForFinished(10000));
    EXPECT_EQ(sink.readAllStandardOutput().count("MESSAGE vendor@example.com"), 5);

    QString everything = o.out + o.err + unchecked.out + unchecked.err;
    for (QDirIterator it(work.path(), QDir::Files); it.hasNext();)
        if (it.next() != work.filePath("pw.txt"))
            everything += QString::fromUtf8(readFile(it.filePath()));
    for (QDirIterator it(program.path(), QDir::Files); it.hasNext();)
        everything += QString::fromUtf8(readFile(it.next()));
    EXPECT_TRUE(everything.contains("Encrypted with TLSv1.3")) << "the log notes the encryption";
    EXPECT_FALSE(everything.contains("secret")) << everything.toStdString();
}

TEST_F(SendCommand, BadConnectionValuesAreNamed)
{
    const QStringList base = {"email_Tool.txt", "--subject", "S", "--body-file", "body.txt", "--from",
        "vendor@example.com", "--dir", program.path(), "--no-log"};
    const struct {
        QStringList args;
        int status;
        const char* error; // the start of standard error
    } cases[] = {
        {{"--server", " mail.example.com:70000 "}, 1,
            "The mail server's port \"70000\" is not a number from 1 to 65535\n"},
        {{"--server", "mail.example.com", "--security", "ssl3"}, 2,
            "ordergate-cli send: --security must be auto, starttls, tls or none, not \"ssl3\""},
        {{"--server", "mail.example.com", "--timeout", "0"}, 2,
            "ordergate-cli send: --timeout must be a whole number of seconds from 1 to 86400, not \"0\""},
        {{"--server", "mail.example.com", "--tls-fingerprint", "abc"}, 2,
            "ordergate-cli send: --tls-fingerprint must be a SHA-256: 64 hexadecimal digits, colons allowed"},
        {{"--server", "mail.example.com", "--user", "me"}, 1,
            "No password for the login: set ORDERGATE_SMTP_PASSWORD or give --password-file FILE\n"},
        {{"--server", "mail.example.com", "--password-file", "body.txt"}, 1,
            "--password-file needs a user name (--user, or login in the settings file)\n"},
    };
    for (const auto& c : cases) {
        const Outcome o = run(base + c.args);
        EXPECT_EQ(o.status, c.status) << c.args.join(' ').toStdString();
        EXPECT_TRUE(o.err.startsWith(c.error)) << o.err.toStdString();
        EXPECT_EQ(o.out, QString()) << "nothing started";
    }
}

// A run killed in a customer's or the copy's dialogue, then resumed: a message
// whose final "." had gone is not known and never sent again, one killed
// before it goes again with the rest; a further --resume finds nothing left.
TEST_F(SendCommand, KilledRunResumesWithoutSendingTwice)
{
    ASSERT_TRUE(writeFile(work.filePath("email_Tool.txt"), "a@x.com\nb@x.com\nc@x.com\nd@x.com\ne@x.com\nf@x.com\n"));
    const QStringList args {"email_Tool.txt", "--subject", "S", "--body-file", "body.txt", "--from",
        "vendor@example.com", "--dir", program.path()};
    struct Case {
        std::string at;  // killed as the server reads this line, or holds this message's data
        QString counts;  // "N already sent, %1 to the remaining K"
        QString unknown; // named as not known on resume
        std::vector<std::string> resent;
        QStringList shared = {}; // ten messages a connection, or one
    };
    const QStringList tenAConnection {"--per-connection", "10"};
    const std::vector<Case> cases {
        {"data 3", "2 already sent, %1 to the remaining 3", "c@x.com",
            {"d@x.com", "e@x.com", "f@x.com", "vendor@example.com"}},
        {"data 3", "2 already sent, %1 to the remaining 3", "c@x.com",
            {"d@x.com", "e@x.com", "f@x.com", "vendor@example.com"}, tenAConnection},
        {"RCPT to:<d@x.com>", "3 already sent, %1 to the remaining 3", {},
            {"d@x.com", "e@x.com", "f@x.com", "vendor@example.com"}, tenAConnection},
        {"RCPT to:<c@x.com>", "2 already sent, %1 to the remaining 4", {},
            {"c@x.com", "d@x.com", "e@x.com", "f@x.com", "vendor@example.com"}},
        {"data 7", "6 already sent, %1 to the remaining 0", "your copy", {}},
        {"RCPT to:<vendor@example.com>", "6 already sent, %1 to the remaining 0", {}, {"vendor@example.com"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.at + (c.shared.isEmpty() ? "" : " (ten a connection)"));
        std::atomic<qint64> pid {0};
        const auto killAt = [&](const std::string& at) {
            if (at == c.at)
                ::kill(pid_t(pid.load()), SIGKILL);
            return false;
        };
        {
            og::test::SmtpAnswers answers;
            answers.custom = [&](og::test::ServerSession&, const std::string& line) { return killAt(line); };
            og::test::ScriptedSmtpServer server(answers);
            server.OnData([&](int n) { killAt("data " + std::to_string(n)); });
            QProcess p;
            p.setWorkingDirectory(work.path());
            p.start(QStringLiteral(OG_CLI),
                QStringList {"send"} + args + c.shared +
                    QStringList {"--server", QString::fromStdString(server.Address())});
            ASSERT_TRUE(p.waitForStarted(10000));
            pid = p.processId();
            ASSERT_TRUE(p.waitForFinished(30000));
            EXPECT_EQ(p.exitStatus(), QProcess::CrashExit);
        }
        og::test::ScriptedSmtpServer server;
        const QStringList again = args + QStringList {"--server", QString::fromStdString(server.Address())};
        Outcome o = run(again);
        EXPECT_EQ(o.status, 1) << "an unfinished run is neither repeated nor resumed unasked";
        EXPECT_TRUE(o.err.startsWith("Resume: " + c.counts.arg("send") + "?")) << o.err.toStdString();
        o = run(again + QStringList {"--resume"});
        EXPECT_EQ(o.status, 0) << o.err.toStdString();
        EXPECT_TRUE(o.out.contains("Resuming: " + c.counts.arg("sending") + "\n" +
            (c.unknown.isEmpty() ? "" : "Not known whether sent, not sent again: " + c.unknown + "\n")))
            << o.out.toStdString();
        EXPECT_EQ(o.out.contains("Not known"), !c.unknown.isEmpty());
        o = run(again + QStringList {"--resume"});
        EXPECT_EQ(o.status, 0);
        EXPECT_TRUE(o.out.startsWith("Preparing to send messages...\nNothing left to send")) << o.out.toStdString();
        server.Stop();
        EXPECT_EQ(server.Delivered(), c.resent);
        EXPECT_TRUE(
            QString::fromUtf8(readFile(work.filePath("log.txt"))).contains("*** Resumed: " + c.counts.left(14)));
    }
}

// --resume refuses without a journal it can read (none: the run was made
// elsewhere; empty; damaged), naming it; "finished" counts only when every
// customer has an outcome; "begun" of older journals is not known.
TEST_F(SendCommand, ResumeTrustsOnlyAJournalItCanRead)
{
    og::test::ScriptedSmtpServer server;
    const QStringList args {"email_Tool.txt", "--subject", "S", "--body-file", "body.txt", "--from",
        "vendor@example.com", "--dir", program.path(), "--server", QString::fromStdString(server.Address()),
        "--resume"};
    struct Case {
        std::optional<QByteArray> journal;
        std::vector<std::string> delivered; // none: refused with status 1
        QString said;                       // on standard output, or error when refused
    };
    const std::vector<std::string> rest {"bob@example.org", "vendor@example.com"};
    const std::vector<Case> cases {
        {std::nullopt, {}, "it does not exist"},
        {"", {}, "it is empty"},
        {QByteArray::fromHex("7f454c4602010100ff0a0000"), {}, "it holds no line of a journal"},
        {"accepted alice@example.com\nfinished\n", rest, "Resuming: 1 already sent, sending to the remaining 1"},
        {"# older\nbegun alice@example.com\n", rest, "Not known whether sent, not sent again: alice@example.com"},
        {"# nothing sent\n", {"alice@example.com", rest[0], rest[1]}, "Resuming: 0 already sent"},
        {"# torn\naccepted alice@example.com", rest, "Resuming: 1 already sent"},
    };
    const QRegularExpression named("\\(([^()]*journal_email_Tool_[0-9a-f]{8}\\.txt)\\)");
    const QString journal = named.match(run(args).err).captured(1);
    ASSERT_EQ(QFileInfo(journal).absolutePath().toStdString(), work.path().toStdString()) << "looked here";
    for (const Case& c : cases) {
        SCOPED_TRACE(c.said.toStdString());
        QFile::remove(journal);
        ASSERT_TRUE(!c.journal || writeFile(journal, *c.journal));
        const std::size_t before = server.Delivered().size();
        const Outcome o = run(args);
        EXPECT_EQ(o.status, c.delivered.empty() ? 1 : 0) << o.err.toStdString();
        EXPECT_TRUE((o.status ? o.err : o.out).contains(c.said)) << (o.out + o.err).toStdString();
        EXPECT_EQ(o.err.startsWith("Nothing to resume: ") && o.err.contains(journal), c.delivered.empty());
        const std::vector<std::string> delivered = server.Delivered();
        EXPECT_EQ(std::vector<std::string>(delivered.begin() + long(before), delivered.end()), c.delivered);
    }
    EXPECT_TRUE(readFile(journal).startsWith("# torn\naccepted alice@example.com\n# ")) << "on a line of its own";
}

TEST_F(SendCommand, DryRunWritesEachMessageAsTheServerReceivesIt)
{
    og::test::ScriptedSmtpServer server;
    const QStringList args {"email_Tool.txt", "--subject", "Grüße", "--body-file", "body.txt", "--from",
        "vendor@example.com", "--server", QString::fromStdString(server.Address()), "--dir", program.path()};
    const QString out = work.filePath("out");
    Outcome o = run(args + QStringList {"--dry-run", "out"});
    ASSERT_EQ(o.status, 0) << o.err.toStdString();
    EXPECT_EQ(o.out,
        "Preparing to send messages...\nDry run: writing each message to " + out +
            ", sending nothing\nSending to alice@example.com\nSending to bob@example.org\n"
            "Sending to vendor@example.com\nMessage sent to 2 customers\n");
    EXPECT_EQ(server.Accepted(), 0);
    EXPECT_FALSE(QFile::exists(work.filePath("log.txt")));
    const QStringList files = QDir(out).entryList({"*.eml"}, QDir::Files, QDir::Name);
    EXPECT_EQ(
        files, (QStringList {"0001-alice@example.com.eml", "0002-bob@example.org.eml", "0003-vendor@example.com.eml"}));

    o = run(args);
    ASSERT_EQ(o.status, 0) << o.err.toStdString();
    server.Stop();
    const std::vector<std::string> wire = server.Messages();
    ASSERT_EQ(wire.size(), std::size_t(files.size()));
    // Date and Message-ID are made per message; dots doubled on the wire only.
    auto comparable = [](QString text) {
        static const QRegularExpression perMessage(
            "^(Date|Message-ID): [^\r]*\r\n", QRegularExpression::MultilineOption);
        static const QRegularExpression doubled("^\\.\\.", QRegularExpression::MultilineOption);
        return text.replace(perMessage, QString()).replace(doubled, ".");
    };
    for (int i = 0; i < files.size(); ++i) {
        const QString path = QDir(out).filePath(files[i]);
        EXPECT_EQ(comparable(QString::fromUtf8(readFile(path))), comparable(QString::fromStdString(wire[i])))
            << files[i].toStdString();
        const QJsonObject parsed = og::test::MailSink::parseFile(path);
        EXPECT_EQ(parsed["defects"].toArray().size(), 0) << files[i].toStdString();
        EXPECT_EQ(parsed["root"].toObject()["parts"].toArray().size(), 2);
    }
}

TEST_F(SendCommand, MarkdownGoesOutAsTextAndCmarksHtmlWithTheChosenHeaders)
{
    const QByteArray markdown = "# Tool 2.1\r\n\r\nNow *faster*, see [the notes](https://shop.example/notes).\r\n\r\n"
                                "<script>alert(1)</script>\r\n\r\n- Grüße\r\n- [x](javascript:alert(1))\r\n";
    ASSERT_TRUE(writeFile(work.filePath("news.md"), markdown));
    QProcess cmark;
    cmark.start("cmark", {});
    cmark.write(markdown);
    cmark.closeWriteChannel();
    ASSERT_TRUE(cmark.waitForFinished(30000)) << "Debian's cmark renders the expected HTML";
    const QString html = QString::fromUtf8(cmark.readAllStandardOutput());
    ASSERT_TRUE(html.contains("raw HTML omitted") && !html.contains("javascript")) << html.toStdString();

    const Outcome o = run({"email_Tool.txt", "--subject", "News", "--body-file", "news.md", "--from",
        "vendor@example.com", "--server", "mail.example.com", "--dir", program.path(), "--dry-run", "out", "--markdown",
        "--reply-to", "help@shop.example", "--auto-submitted", "--unsubscribe",
        "mailto:leave@shop.example?subject=unsubscribe", "--unsubscribe", "https://shop.example/leave?n=Jörg"});
    ASSERT_EQ(o.status, 0) << o.err.toStdString();
    const QJsonObject attachment {
        {"filename", "message.txt"}, {"content_type", "text/plain"}, {"path", program.filePath("message.txt")}};
    const QJsonObject headers {{"Reply-To", "help@shop.example"}, {"Auto-Submitted", "auto-generated"},
        {"List-Unsubscribe",
            "<mailto:leave@shop.example?subject=unsubscribe>, <https://shop.example/leave?n=J%C3%B6rg>"},
        {"List-Unsubscribe-Post", "List-Unsubscribe=One-Click"}, {"List-Id", "<vendor.example.com>"}};
    const QJsonObject check {{"eml", work.filePath("out/0001-alice@example.com.eml")}, {"subject", "News"},
        {"organization", ""}, {"from_name", ""}, {"from_address", "vendor@example.com"}, {"to_name", ""},
        {"to_address", "alice@example.com"}, {"text", QString::fromUtf8(markdown).remove(u'\r')},
        {"attachments", QJsonArray {attachment}}, {"html", html}, {"headers", headers}};
    ASSERT_TRUE(writeFile(work.filePath("cases.json"), QJsonDocument(QJsonArray {check}).toJson()));
    QProcess checker;
    checker.start("/usr/bin/python3", {OG_SOURCE_DIR "/tests/mail/mail_roundtrip.py", work.filePath("cases.json")});
    ASSERT_TRUE(checker.waitForFinished(60000));
    EXPECT_EQ(checker.readAllStandardOutput().toStdString() + checker.readAllStandardError().toStdString(), "");
}

// Each customer's own values in the subject, the text, message.txt and their
// own attachment, read back from a real server; the checks before sending.
TEST_F(SendCommand, PersonalMessagesCarryEachCustomersOwnValuesAndFiles)
{
    ASSERT_TRUE(writeFile(work.filePath("email_Tool.txt"),
        "email,name,order\r\nanna@example.com,Ånna "
        "Berg,5001\r\nbob@example.org,,5002\r\ncarl@example.net,Carl,5003\r\n"));
    ASSERT_TRUE(writeFile(work.filePath("body.txt"), "Dear {{name|Customer}},\r\nyour password is {{order}}.\r\n"));
    ASSERT_TRUE(QDir(work.path()).mkdir("lic"));
    const QByteArray licences[] = {QByteArray(70000, '\x01') + "anna", QByteArray("bob\0\xff", 5)};
    ASSERT_TRUE(writeFile(work.filePath("lic/5001.bin"), licences[0]));
    ASSERT_TRUE(writeFile(work.filePath("lic/5002.bin"), licences[1]));
    og::test::MailSink sink;
    ASSERT_TRUE(sink.start());
    const QStringList common {"email_Tool.txt", "--body-file", "body.txt", "--from", "vendor@example.com", "--server",
        sink.server(), "--dir", program.path(), "--no-copy", "--subject"};

    Outcome o = run(common + QStringList {"{{licence}}"});
    EXPECT_EQ(o.status, 2);
    EXPECT_TRUE(o.err.contains("Unknown field {{licence}}: email_Tool.txt offers address, product, email, name, "
                               "order"))
        << o.err.toStdString();
    const QStringList personal = common + QStringList {"Order {{order}} for {{name|you}}"};
    o = run(personal + QStringList {"--attach", "lic/{{order}}.bin"});
    EXPECT_EQ(o.status, 2);
    EXPECT_TRUE(o.err.contains("line 4, carl@example.net: " + work.filePath("lic/5003.bin"))) << o.err.toStdString();
    EXPECT_EQ(sink.messageCount(), 0);

    o = run(personal + QStringList {"--attach", "lic/{{order}}.bin", "--skip-missing"});
    EXPECT_EQ(o.status, 3) << o.err.toStdString();
    EXPECT_TRUE(o.out.contains("1 not sent: carl@example.net")) << o.out.toStdString();
    o = run(personal + QStringList {"--dry-run", "out"});
    ASSERT_EQ(o.status, 0) << o.err.toStdString();
    EXPECT_EQ(og::test::MailSink::parseFile(work.filePath("out/0003-carl@example.net.eml"))["subject"].toString(),
        "Order 5003 for Carl");
    o = run(personal);
    ASSERT_EQ(o.status, 0) << o.err.toStdString();
    EXPECT_TRUE(readFile(work.filePath("log.txt")).contains("Subject: Order {{order}} for {{name|you}}\r\n"));
    // The journal is the texts as typed: resuming finds the run it left.
    const Outcome resumed = run(personal + QStringList {"--resume"});
    EXPECT_TRUE(resumed.out.contains("Nothing left to send")) << resumed.out.toStdString() << resumed.err.toStdString();
    ASSERT_EQ(sink.waitForMessages(5), 5); // two with attachments, then three
    const char* const names[] = {"Ånna Berg", "Customer"};
    for (int i = 0; i < 4; ++i) {
        SCOPED_TRACE(i);
        const QJsonObject parsed = sink.parsed(i + 1);
        const QJsonArray parts = parsed["root"].toObject()["parts"].toArray();
        const QString name = QString::fromUtf8(names[i % 2]), order = QString::number(5001 + i % 2);
        EXPECT_EQ(parsed["subject"].toString(), "Order " + order + " for " + (i % 2 ? "you" : name));
        const QString text = "Dear " + name + ",\r\nyour password is " + order + ".";
        EXPECT_TRUE(parts[0].toObject()["text"].toString().startsWith(text));
        const QJsonObject attached = parts[1].toObject();
        if (i < 2) {
            EXPECT_EQ(attached["filename"].toString(), order + ".bin");
            EXPECT_EQ(attached["sha256"].toString(),
                QCryptographicHash::hash(licences[i], QCryptographicHash::Sha256).toHex());
        } else {
            EXPECT_EQ(attached["filename"].toString(), "message.txt");
            EXPECT_EQ(attached["text"].toString(), text);
        }
    }
}

// A buyer's own text in the address file never picks a file of the vendor's.
TEST_F(SendCommand, AFieldThatLeavesTheAttachmentFolderGetsTheCustomerNothingButTheRefusal)
{
    ASSERT_TRUE(writeFile(work.filePath("email_Tool.txt"),
        "email,name,file\r\nanna@example.com,anna," + work.filePath("lic/anna.txt").toUtf8() +
            "\r\nmallory@example.net,../accounts_Tool,x\r\neve\x1b[2J@example.net,anna,x\r\n"));
    ASSERT_TRUE(writeFile(work.filePath("accounts_Tool.txt"), "anna:secret\r\n"));
    ASSERT_TRUE(QDir(work.path()).mkdir("lic") && writeFile(work.filePath("lic/anna.txt"), "licence"));
    const QStringList args {"email_Tool.txt", "--subject", "S", "--body-file", "body.txt", "--from",
        "vendor@example.com", "--server", "mail.example.com", "--dir", program.path(), "--no-copy", "--dry-run"};
    Outcome o = run(args + QStringList {"out", "--attach", "lic/{{name}}.txt"});
    // Mallory gets nothing, eve's address with its control character is hers alone (refused, the run
    // goes on) and her escape sequence reaches the terminal escaped.
    EXPECT_EQ(o.status, 3) << o.err.toStdString();
    EXPECT_TRUE(o.err.contains("eve\\x1b[2J@example.net: refused: The address")) << o.err.toStdString();
    EXPECT_TRUE(o.err.startsWith(
        "mallory@example.net: not sent: the value \"../accounts_Tool\" holds a folder separator: a field "
        "may only name a file inside the attachment's folder\n"))
        << o.err.toStdString();
    EXPECT_FALSE(o.out.contains("Sending to mallory")) << o.out.toStdString();
    EXPECT_TRUE(o.out.contains("Sending to eve\\x1b[2J@example.net\n")) << "escaped for the terminal";
    EXPECT_FALSE(o.out.contains(QChar(0x1b)) || o.err.contains(QChar(0x1b)));
    EXPECT_EQ(QDir(work.filePath("out")).entryList(QDir::Files), QStringList {"0001-anna@example.com.eml"});
    // A whole path, only when the vendor says so.
    o = run(args + QStringList {"abs", "--attach", "{{file}}", "--skip-missing"});
    EXPECT_EQ(QDir(work.filePath("abs")).entryList(QDir::Files), QStringList()) << o.err.toStdString();
    o = run(args + QStringList {"abs", "--attach", "{{file}}", "--skip-missing", "--attach-absolute"});
    EXPECT_EQ(QDir(work.filePath("abs")).entryList(QDir::Files), QStringList {"0001-anna@example.com.eml"})
        << o.err.toStdString();
}
