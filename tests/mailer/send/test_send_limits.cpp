// A run against a server that limits it: throttling slows the run down on the
// connections it has, a refused address stays that customer's matter, and a
// run the server keeps slowing down ends resumable.
#include "tests/support/FileTestSupport.h"
#include "tests/support/ScriptedSmtpServer.h"

#include "mailer/ProviderProfile.h"
#include "mailer/SentToday.h"
#include "mailer/send/SendRun.h"

#include <QDir>
#include <QTemporaryDir>

#include <algorithm>
#include <atomic>
#include <map>
#include <thread>

#include <gtest/gtest.h>

using namespace og;
using og::test::SmtpAnswers;

TEST(SendLimits, TheRunSlowsDownForTheServerAndKeepsEachRefusalToItsCustomer)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString previous = QDir::currentPath();
    QDir::setCurrent(dir.path());
    SmtpAnswers tooMany, utf8;
    tooMany.greeting = "421 4.7.0 Too many connections from your host, try again later";
    utf8.ehlo = {"250-test.server", "250 SMTPUTF8"};
    const std::string tooMuch = "450 4.7.1 <%>: Recipient address rejected: too much mail";
    struct Case {
        const char* name;
        int customers;                          // c1@x.com ... cN@x.com, 0: `addresses`
        int throttleFrom, throttleTo;           // RCPT numbers (from 1) answered `tooMuch`
        std::map<int, SmtpAnswers> connections; // 0: every connection
        int connections_ = 1, perConnection = 1;
        int maxLogins = 0;            // 0: any
        QStringList refused = {};     // as the outcome names them
        QString failure = {};         // a word of what the run ended with; empty: it completed
        std::string addresses = {};   // the address file when customers is 0
        std::string mailCommand = {}; // what one connection's MAIL FROM said
        int perDay = 0;               // the day's allowance of a profile of 127.0.0.1
        int sentBefore = 0;           // by an earlier run of the same account within the day
    };
    SmtpAnswers unknownUser;
    unknownUser.rcpt = "550 5.1.1 Recipient address rejected: User unknown";
    const std::vector<Case> cases {
        {"450 after five messages: same connection, lower rate", 10, 6, 6, {}, 1, 10, 3},
        {"421 at the greeting of connection 3 is retried", 5, 0, 0, {{3, tooMany}}},
        {"a limit of two connections with three configured", 9, 0, 0, {{3, tooMany}}, 3},
        {"the server keeps asking to slow down: resumable end", 3, 1, 99, {}, 1, 1, 0, {}, "lower the rate"},
        {"non-ASCII address without SMTPUTF8: that customer refused", 0, 0, 0, {}, 1, 1, 0,
            {QStringLiteral("jürgen@x.com")}, {}, "a@x.com\njürgen@x.com\nc@x.com\n"},
        {"non-ASCII address with SMTPUTF8: sent", 0, 0, 0, {{0, utf8}}, 1, 1, 0, {}, {},
            "a@x.com\njürgen@x.com\nc@x.com\n", "Mail from:<vendor@example.com> SMTPUTF8"},
        {"a daily allowance of 10 for 25 customers", 25, 0, 0, {}, 1, 1, 0, {}, {}, {}, {}, 10},
        {"an earlier run's 4 sends count against the allowance", 25, 0, 0, {}, 1, 1, 0, {}, {}, {}, {}, 10, 4},
        {"three 5.1.1 first are three customers refused", 5, 0, 0,
            {{1, unknownUser}, {2, unknownUser}, {3, unknownUser}}, 1, 1, 0, {"c1@x.com", "c2@x.com", "c3@x.com"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::string file = c.addresses;
        for (int n = 1; n <= c.customers; ++n)
            file += "c" + std::to_string(n) + "@x.com\n";
        ASSERT_TRUE(og::test::writeFile(QStringLiteral("email_W.txt"), QByteArray::fromStdString(file)));
        QFile::remove(QStringLiteral("email_W.txt.journal"));
        SmtpAnswers common = c.connections.count(0) ? c.connections.at(0) : SmtpAnswers();
        std::atomic<int> rcpt {0};
        common.custom = [&](og::test::ServerSession& s, const std::string& line) {
            if (line.rfind("RCPT", 0) != 0)
                return false;
            const int n = ++rcpt;
            if (n < c.throttleFrom || n > c.throttleTo)
                return false;
            s.Reply(tooMuch.substr(0, tooMuch.find('%')) + line.substr(9) + tooMuch.substr(tooMuch.find('%') + 2));
            return true;
        };
        og::test::ScriptedSmtpServer server(common);
        for (const auto& [n, answers] : c.connections)
            if (n > 0) {
                SmtpAnswers own = answers;
                own.custom = common.custom;
                server.AnswerConnection(n, own);
            }
        MailerInput in;
        in.settings.addressFile = dir.filePath(QStringLiteral("email_W.txt"));
        in.settings.sender = QStringLiteral("vendor@example.com");
        in.settings.server = QString::fromStdString(server.Address());
        in.settings.copyToSelf = false;
        in.settings.retryDelaySeconds = 0;
        in.settings.retries = 0; // only slowing down may send a customer again
        in.settings.connections = c.connections_;
        in.settings.perConnection = c.perConnection;
        in.subject = QStringLiteral("S");
        in.body = MessageBody({QStringLiteral("Hello")});
        in.settingsPath = dir.filePath(QStringLiteral("ordergate.ini"));
        in.programFolder = dir.path() + u'/';
        QFile::remove(in.settingsPath);
        const SentToday sentToday(in.programFolder, std::chrono::milliseconds(1440));
        const QString account = QStringLiteral("test:vendor@example.com");
        QFile::remove(in.programFolder + SentToday::fileName());
        QString error;
        ASSERT_TRUE(sentToday.add(account, c.sentBefore, QDateTime::currentDateTime(), &error));
        if (c.perDay) {
            ASSERT_TRUE(og::test::writeFile(
                in.settingsPath, "[provider Test]\r\nservers=127.0.0.1\r\nperday=" + QByteArray::number(c.perDay)));
        }
        SendRun run;
        run.setMinute(std::chrono::milliseconds(c.perDay ? 1 : 40)); // a day of 1.44 s
        run.prepare(in);
        QString failure;
        SendOutcome outcome;
        try {
            outcome = run.send(in);
        } catch (const SendFailure& ended) {
            failure = ended.message();
        }
        server.Stop();
        const int customers = c.customers ? c.customers : int(std::count(file.begin(), file.end(), '\n'));
        if (c.failure.isEmpty()) {
            EXPECT_TRUE(failure.isEmpty()) << failure.toStdString();
            EXPECT_EQ(outcome.refused, c.refused);
            EXPECT_EQ(
                outcome.sent + outcome.refused.size() + outcome.notSent.size() + outcome.deferred.size(), customers);
            EXPECT_EQ(int(server.Delivered().size()), outcome.sent);
            EXPECT_EQ(outcome.deferred.size(), c.perDay ? customers - c.perDay + c.sentBefore : 0);
            EXPECT_EQ(outcome.deferredUntil.isValid(), c.perDay > 0);
            const DayAllowance day = sentToday.allowance(
                chooseProfile(in.settings.server, in.settingsPath), account, QDateTime::currentDateTime());
            EXPECT_EQ(day.sentBefore, c.perDay ? outcome.sent + c.sentBefore : 0);
        } else {
            EXPECT_TRUE(failure.contains(c.failure)) << failure.toStdString();
        }
        EXPECT_LE(server.Accepted(), c.maxLogins ? c.maxLogins : 99);
        if (!c.mailCommand.empty()) {
            const std::vector<std::string> wires = server.Received();
            EXPECT_TRUE(std::any_of(wires.begin(), wires.end(),
                [&](const std::string& wire) { return wire.find(c.mailCommand) != std::string::npos; }));
        }
        if (c.failure.isEmpty() && (!c.perDay || c.sentBefore))
            continue;
        // What the server would not take yet goes with a resumed run; the
        // day's allowance lets it go only once the day is over.
        og::test::ScriptedSmtpServer fine;
        in.settings.server = QString::fromStdString(fine.Address());
        for (const bool early : c.perDay ? std::vector {true, false} : std::vector {false}) {
            if (!early)
                std::this_thread::sleep_until(std::chrono::system_clock::from_time_t(
                    outcome.deferredUntil.isValid() ? outcome.deferredUntil.toSecsSinceEpoch() + 1 : 0));
            SendRun again;
            again.setMinute(std::chrono::milliseconds(c.perDay ? 1 : 40)); // the same short day
            again.prepare(in);
            EXPECT_EQ(again.decideStart(in, ResumeAnswer::Resume, {}), RunStart::Resumed);
            try {
                const SendOutcome resumed = again.send(in);
                EXPECT_FALSE(early && c.perDay) << "a resume before the time says when";
                EXPECT_EQ(resumed.sent, std::min(customers - outcome.sent, c.perDay ? c.perDay : customers));
            } catch (const SendFailure& tooEarly) {
                EXPECT_TRUE(early && tooEarly.message().contains("can go from")) << tooEarly.message().toStdString();
            }
        }
        fine.Stop();
    }
    QDir::setCurrent(previous);
}

// The profile comes by name, then by the server's name, the vendor's own
// before the built-in ones; the estimate says how long and what waits.
TEST(SendLimits, ProfilesAreChosenByNameOrServerAndSayHowLongARunTakes)
{
    QTemporaryDir dir;
    const QString ini = dir.filePath(QStringLiteral("ordergate.ini"));
    ASSERT_TRUE(
        og::test::writeFile(ini, "[provider Shop relay]\r\nservers=relay.example.net\r\nrate=5\r\nperday=10\r\n"));
    const QDateTime now(QDate(2026, 12, 10), QTime(9, 0));
    struct Case {
        const char* server;
        const char* named;
        const char* profile;
        int customers;
        QString estimate; // empty: none is said
    };
    const Case cases[] = {
        {"smtp.office365.com:587", "", "Microsoft 365 / Outlook.com", 245,
            "245 customers at 30 a minute: about 9 minutes"},
        {"SMTP-mail.Outlook.com", "", "Microsoft 365 / Outlook.com", 30, "30 customers at 30 a minute: about a minute"},
        {"smtp.gmail.com", "gmail", "Gmail", 600,
            "600 customers; the day's allowance of 500 covers 500, the other 100 can go from 2026-12-11 09:00"},
        {"mail.relay.example.net:25", "", "Shop relay", 25,
            "25 customers at 5 a minute: about 2 minutes; the day's allowance of 10 covers 10, the other 15 can go "
            "from 2026-12-11 09:00"},
        {"notoffice365.com", "", "Other", 3, "3 customers"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.server);
        const ProviderProfile p = chooseProfile(QLatin1String(c.server), ini, QLatin1String(c.named));
        EXPECT_EQ(p.name, QLatin1String(c.profile));
        EXPECT_EQ(runEstimate(c.customers, p.perMinute, {p.perDay, 0, now.addDays(1)}), c.estimate);
    }
    // The profile caps saved values; values asked for on purpose stay.
    const ProviderProfile microsoft = builtInProfiles().first();
    const struct {
        int rate, connections;
        bool asked;
        int perMinute, connectionsRun, lowered;
    } paces[] = {{0, 1, false, 30, 1, 0}, {100, 5, false, 30, 3, 2}, {100, 5, true, 100, 5, 0},
        {10, 2, false, 10, 2, 0}, {0, 5, true, 30, 5, 0}};
    for (const auto& c : paces) {
        const Pace pace = paceFor(microsoft, c.rate, c.connections, c.asked, c.asked);
        EXPECT_EQ(pace.perMinute, c.perMinute);
        EXPECT_EQ(pace.connections, c.connectionsRun);
        EXPECT_EQ(pace.lowered.size(), c.lowered);
    }
}

// Earlier runs' sends of the last day lower the allowance; what the file
// says beyond that (other accounts, old, unreadable, ahead of the clock,
// too large) never raises it.
TEST(SendLimits, TheDaysAllowanceCountsEarlierSendsOfTheAccountOnly)
{
    QTemporaryDir dir;
    const QString folder = dir.path() + u'/';
    const QDateTime now = QDateTime::currentDateTime();
    const auto at = [&](int hours) { return now.addSecs(hours * 3600).toUTC().toString(Qt::ISODate).toUtf8(); };
    ProviderProfile gmail;
    gmail.name = QStringLiteral("Gmail");
    gmail.perDay = 500;
    const struct {
        const char* name;
        QByteArray file;
        int sentBefore;
        int hoursToRest; // when the rest can go, from now
    } cases[] = {
        {"none", {}, 0, 24},
        {"this account, another, one too old, garbage",
            at(-2) + "\tgmail:a@x.com\t120\n" + at(-1) + "\tgmail:b@x.com\t50\n" + at(-25) +
                "\tgmail:a@x.com\t400\nnot a line\n" + at(-3) + "\tgmail:a@x.com\t-9\n" + at(-3) +
                "\tgmail:a@x.com\tmany\n",
            120, 22},
        {"ahead of the clock counts as now", at(+48) + "\tgmail:a@x.com\t30\n", 30, 24},
        {"too large covers the whole day",
            at(-5) + "\tgmail:a@x.com\t99999999999\n" + at(-4) + "\tgmail:a@x.com\t2000000\n", 500, 20},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(og::test::writeFile(folder + SentToday::fileName(), c.file));
        const DayAllowance day = SentToday(folder).allowance(gmail, QStringLiteral("gmail:a@x.com"), now);
        EXPECT_EQ(day.sentBefore, c.sentBefore);
        EXPECT_EQ(day.left(), 500 - c.sentBefore);
        EXPECT_NEAR(now.secsTo(day.restFrom), c.hoursToRest * 3600, 2);
        // A run's sends join them; what is too old or unreadable goes.
        QString error;
        ASSERT_TRUE(SentToday(folder).add(QStringLiteral("gmail:a@x.com"), 7, now, &error)) << error.toStdString();
        EXPECT_EQ(SentToday(folder).allowance(gmail, QStringLiteral("gmail:a@x.com"), now).sentBefore,
            std::min(500, c.sentBefore + 7));
        EXPECT_FALSE(og::test::readFile(folder + SentToday::fileName()).contains("not a line"));
    }
    MailerSettings sender;
    sender.sender = QStringLiteral("Vendor@X.com");
    EXPECT_EQ(SentToday::account(gmail, sender), QStringLiteral("gmail:vendor@x.com"));
}
