// The send run shared by the mailer window and the command line, through its
// public interface: the checks, the address-file rules, the run against a
// real local SMTP server and against one that fails on purpose.
#include "tests/support/FileSizeLimit.h"
#include "tests/support/FileTestSupport.h"
#include "tests/support/MailSink.h"
#include "tests/support/ScriptedSmtpServer.h"

#include "common/AddressFile.h"
#include "common/ProfileFile.h"
#include "mail/WireMessage.h"
#include "mailer/message/AttachmentType.h"
#include "mailer/message/MarkdownBody.h"
#include "mailer/send/Connections.h"
#include "mailer/send/InputChecks.h"
#include "mailer/send/RunLog.h"
#include "mailer/send/SendRun.h"
#include "smtp/SMTPWire.h"

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
        {"relay denied: this computer refused", {{0, relay}}, {}, "*** run ended at a@x.com (0 of 6 customers sent)",
            "does not take mail from this computer", plus(all, {"vendor@example.com"})},
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

// Several messages a connection: each goes on the connection the last one
// left (RSET only after a refusal), a refused address keeps it, a lost one costs only the
// customer in flight.
TEST_F(SendRunTest, MessagesShareAConnectionUntilItCarriedItsShare)
{
    og::test::SmtpAnswers refuseB, dropAfterC;
    refuseB.custom = [](og::test::ServerSession& s, const std::string& line) {
        return line == "RCPT to:<b@x.com>" && (s.Reply("550 5.1.1 No such user"), true);
    };
    dropAfterC.dropBeforeAnswer = 14; // EHLO, a's five lines with RSET, four each after: c's final "."
    struct Case {
        const char* name;
        og::test::SmtpAnswers first; // the first connection's script
        int connections;             // the copy goes on the last, which has room
        std::vector<std::string> delivered;
        QStringList unknown;
    };
    const std::vector<Case> cases {
        {"four a connection", {}, 2,
            {"a@x.com", "b@x.com", "c@x.com", "d@x.com", "e@x.com", "f@x.com", "vendor@example.com"}, {}},
        {"a refused address keeps it", refuseB, 2,
            {"a@x.com", "c@x.com", "d@x.com", "e@x.com", "f@x.com", "vendor@example.com"}, {}},
        {"lost after c's data", dropAfterC, 2,
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
