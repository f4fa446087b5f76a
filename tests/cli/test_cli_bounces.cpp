// ordergate-cli bounces against Debian's dovecot started by the test: what
// it prints and adds to the lists, that a second read adds nothing, and
// that a mailbox it cannot read changes nothing.

#include "tests/cli/CliProcess.h"
#include "tests/support/Dovecot.h"
#include "tests/support/MailSink.h"
#include "tests/support/Postfix.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QThread>

#include <algorithm>

#include <gtest/gtest.h>

namespace {

using og::test::Dovecot;

QByteArray contents(const QString& path)
{
    QFile file(path);
    file.open(QIODevice::ReadOnly);
    return file.readAll();
}

void write(const QString& path, const QByteArray& text)
{
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(text);
}

TEST(CliBounces, ReadsOnceAddsToTheListsAndChangesNothingWhenItCannotRead)
{
    Dovecot server;
    const QDir mail(QStringLiteral(OG_MAIL_DIR));
    for (const QString& name : mail.entryList({QStringLiteral("*.eml")}, QDir::Files))
        server.deliver(QStringLiteral("INBOX"), contents(mail.filePath(name)));
    ASSERT_TRUE(server.start()) << server.why().toStdString();
    QTemporaryDir dir;
    const QString ini =
        QStringLiteral("[user]\r\nemail=Example Shop <sales@shop.example>\r\n"
                       "[options]\r\nunsubscribe=mailto:unsubscribe@shop.example?subject=unsubscribe\r\n"
                       "[mailbox]\r\nserver=127.0.0.1:%1\r\nsecurity=starttls\r\nlogin=%2\r\ncafile=%3\r\n")
            .arg(server.plainPort())
            .arg(Dovecot::user(), server.caFile());
    write(dir.filePath(QStringLiteral("ordergate.ini")), ini.toUtf8());
    write(dir.filePath(QStringLiteral("right")), Dovecot::password().toUtf8() + "\n");
    write(dir.filePath(QStringLiteral("wrong")), "not it\n");
    const QStringList common {QStringLiteral("bounces"), QStringLiteral("--dir"), dir.path(), QStringLiteral("--lists"),
        dir.path(), QStringLiteral("--since"), QDate::currentDate().addDays(-2).toString(Qt::ISODate)};
    const QString bounced = dir.filePath(QStringLiteral("bounced.txt"));
    const QString unsubscribed = dir.filePath(QStringLiteral("unsubscribed.txt"));

    const og::test::CliOutcome first =
        og::test::runCli(dir.path(), common + QStringList {QStringLiteral("--password-file"), dir.filePath("right")});
    ASSERT_EQ(first.status, 0) << first.err.toStdString();
    EXPECT_TRUE(first.out.contains(QStringLiteral("gone@customer.example: bounced (hard, 550 5.1.1), added to "
                                                  "bounced.txt")))
        << first.out.toStdString();
    EXPECT_TRUE(first.out.contains(QStringLiteral("pat@customer.example: ignored: Auto-Submitted: auto-replied")));
    EXPECT_TRUE(first.out.contains(QStringLiteral("7 new bounces, 2 unsubscribe requests, 3 ignored, 1 other")));
    const QByteArray lists = contents(bounced) + contents(unsubscribed);
    EXPECT_EQ(contents(bounced).count('\n'), 5);
    EXPECT_TRUE(lists.contains(
        "gone@customer.example " + QDate(2026, 12, 10).toString(Qt::ISODate).toUtf8() + " 550 5.1.1\r\n"));
    EXPECT_TRUE(contents(unsubscribed).contains("sam@customer.example "));
    EXPECT_TRUE(contents(unsubscribed).contains("robin@customer.example "));
    EXPECT_FALSE(lists.contains("slow@")); // one soft bounce is not enough

    const QByteArray state = contents(dir.filePath(QStringLiteral("mailbox_read.txt")));
    const struct {
        const char* passwordFile;
        int status;
        const char* says;
    } again[] = {
        {"right", 0, "0 new bounces, 0 unsubscribe requests, 0 ignored, 0 other"},
        {"wrong", 1, "refused the login of vendor"},
    };
    for (const auto& a : again) {
        const og::test::CliOutcome o = og::test::runCli(
            dir.path(), common + QStringList {QStringLiteral("--password-file"), dir.filePath(a.passwordFile)});
        EXPECT_EQ(o.status, a.status) << o.err.toStdString();
        EXPECT_TRUE((o.out + o.err).contains(QLatin1String(a.says))) << (o.out + o.err).toStdString();
        EXPECT_EQ(contents(bounced) + contents(unsubscribed), lists);
        EXPECT_EQ(contents(dir.filePath(QStringLiteral("mailbox_read.txt"))), state);
    }
}

} // namespace

namespace {

// What came back for a message the sink received: its header block.
QByteArray headersOf(const QByteArray& raw)
{
    const qsizetype end = raw.indexOf("\r\n\r\n");
    return raw.left(end < 0 ? raw.indexOf("\n\n") : end);
}

QByteArray messageIdOf(const QByteArray& raw)
{
    for (const QByteArray& line : headersOf(raw).split('\n')) {
        if (line.toLower().startsWith("message-id:"))
            return line.mid(11).trimmed();
    }
    return {};
}

} // namespace

// Send to 10 customers; two addresses bounce (a delivery report naming the
// recipient, and a provider's bounce in words that names no one: only the
// journal's Message-ID tells whose), one customer replies "unsubscribe".
// bounces lists exactly those three; the next send leaves them out.
TEST(CliBounces, TheNextSendLeavesOutWhatCameBack)
{
    og::test::MailSink sink;
    ASSERT_TRUE(sink.start());
    QTemporaryDir work, program;
    QByteArray customers;
    for (int i = 0; i < 10; ++i)
        customers += "c" + QByteArray::number(i) + "@customer.example\r\n";
    write(work.filePath(QStringLiteral("email_Tool.txt")), customers);
    write(work.filePath(QStringLiteral("body.txt")), "Tool 2.0 is out.\r\n");
    const QStringList send {QStringLiteral("send"), QStringLiteral("email_Tool.txt"), QStringLiteral("--subject"),
        QStringLiteral("Tool 2.0"), QStringLiteral("--body-file"), QStringLiteral("body.txt"), QStringLiteral("--from"),
        QStringLiteral("sales@shop.example"), QStringLiteral("--server"), sink.server(), QStringLiteral("--no-copy"),
        QStringLiteral("--dir"), program.path(), QStringLiteral("--start-over")};
    const og::test::CliOutcome first = og::test::runCli(work.path(), send);
    ASSERT_EQ(first.status, 0) << first.err.toStdString();
    ASSERT_EQ(sink.waitForMessages(10), 10);

    Dovecot server;
    const QByteArray to3 = sink.raw(4), to7 = sink.raw(8);
    ASSERT_TRUE(headersOf(to3).contains("c3@customer.example") && headersOf(to7).contains("c7@customer.example"));
    const QByteArray report = "From: Mail Delivery System <MAILER-DAEMON@mx.customer.example>\r\n"
                              "To: sales@shop.example\r\nDate: Fri, 11 Dec 2026 09:00:00 +0000\r\n"
                              "Subject: Undelivered Mail Returned to Sender\r\nMIME-Version: 1.0\r\n"
                              "Content-Type: multipart/report; report-type=delivery-status; boundary=\"b\"\r\n\r\n"
                              "--b\r\nContent-Type: text/plain\r\n\r\nThe mail could not be delivered.\r\n"
                              "--b\r\nContent-Type: message/delivery-status\r\n\r\nReporting-MTA: dns; mx\r\n\r\n"
                              "Final-Recipient: rfc822; c3@customer.example\r\nAction: failed\r\nStatus: 5.1.1\r\n"
                              "Diagnostic-Code: smtp; 550 5.1.1 user unknown\r\n"
                              "--b\r\nContent-Type: text/rfc822-headers\r\n\r\n" +
        headersOf(to3) + "\r\n--b--\r\n";
    const QByteArray inWords = "From: Mail Delivery Subsystem <mailer-daemon@googlemail.com>\r\n"
                               "To: sales@shop.example\r\nDate: Fri, 11 Dec 2026 09:05:00 +0000\r\n"
                               "Subject: Delivery Status Notification (Failure)\r\n\r\n"
                               "Your message wasn't delivered: the account you tried to reach does not exist.\r\n"
                               "The response was: 550 5.1.1 no such user\r\n\r\n"
                               "Message-ID: " +
        messageIdOf(to7) + "\r\nSubject: Tool 2.0\r\n";
    const QByteArray reply = "From: c5@customer.example\r\nTo: sales@shop.example\r\n"
                             "Date: Fri, 11 Dec 2026 10:00:00 +0000\r\nSubject: Re: Tool 2.0\r\n\r\n"
                             "unsubscribe\r\n";
    for (const QByteArray& message : {report, inWords, reply})
        server.deliver(QStringLiteral("INBOX"), message);
    ASSERT_TRUE(server.start()) << server.why().toStdString();
    write(work.filePath(QStringLiteral("pass")), Dovecot::password().toUtf8() + "\n");
    const og::test::CliOutcome read = og::test::runCli(work.path(),
        {QStringLiteral("bounces"), QStringLiteral("--dir"), program.path(), QStringLiteral("--server"),
            QStringLiteral("127.0.0.1:%1").arg(server.plainPort()), QStringLiteral("--ca-file"), server.caFile(),
            QStringLiteral("--user"), Dovecot::user(), QStringLiteral("--password-file"), work.filePath("pass"),
            QStringLiteral("--since"), QStringLiteral("2026-12-01")});
    ASSERT_EQ(read.status, 0) << read.err.toStdString();
    EXPECT_EQ(contents(work.filePath(QStringLiteral("bounced.txt"))),
        "c3@customer.example 2026-12-11 550 5.1.1\r\nc7@customer.example 2026-12-11 550 5.1.1\r\n")
        << read.out.toStdString();
    EXPECT_TRUE(
        contents(work.filePath(QStringLiteral("unsubscribed.txt"))).startsWith("c5@customer.example 2026-12-11"));

    const og::test::CliOutcome second = og::test::runCli(work.path(), send);
    EXPECT_EQ(second.status, 0) << second.err.toStdString();
    EXPECT_TRUE(second.out.contains("Message sent to 7 customers\n3 suppressed: c3@customer.example (bounced "
                                    "2026-12-11 550 5.1.1), c5@customer.example (unsubscribed 2026-12-11"))
        << second.out.toStdString();
    EXPECT_EQ(sink.waitForMessages(17), 17);
    EXPECT_TRUE(contents(work.filePath(QStringLiteral("log.txt")))
                    .contains("*** c7@customer.example suppressed: bounced 2026-12-11 550 5.1.1\r\n"));
    // That run finished: the suppressed customers are no customers left.
    const og::test::CliOutcome resumed = og::test::runCli(work.path(), send.mid(0, send.size() - 1) << "--resume");
    EXPECT_TRUE(resumed.out.contains("Nothing left to send")) << resumed.out.toStdString();
    const og::test::CliOutcome all =
        og::test::runCli(work.path(), QStringList(send) << QStringLiteral("--include-suppressed"));
    EXPECT_TRUE(all.out.contains("Message sent to 10 customers\n")) << all.out.toStdString();
}

namespace {

// The addresses a list names, one a line, in its order.
QByteArrayList listed(const QString& path)
{
    QByteArrayList addresses;
    for (const QByteArray& line : contents(path).split('\n')) {
        if (!line.trimmed().isEmpty())
            addresses << line.split(' ').first();
    }
    return addresses;
}

} // namespace

// The same loop with nothing placed by hand: postfix takes the 10 messages,
// its delivery refuses the 2 customers it has no mailbox for and returns
// its own reports to the vendor's Maildir, where one customer's reply
// lands too; dovecot serves that Maildir to bounces.
TEST(CliBounces, PostfixReportsAndAReplyComeBackAndTheNextSendLeavesThemOut)
{
    if (const QString why = og::test::Postfix::unavailable(); !why.isEmpty())
        GTEST_SKIP() << why.toStdString();
    Dovecot server;
    ASSERT_TRUE(server.start()) << server.why().toStdString();
    og::test::Postfix mail;
    QByteArray mailboxes = "sales@shop.example vendor/Maildir/\n";
    QByteArray customers;
    for (int i = 0; i < 10; ++i) {
        const QByteArray c = "c" + QByteArray::number(i);
        customers += c + "@customer.example\r\n";
        if (i != 3 && i != 7)
            mailboxes += c + "@customer.example customers/" + c + "/\n";
    }
    write(mail.file(QStringLiteral("mailboxes")), mailboxes);
    ASSERT_TRUE(mail.start("mydestination =\nvirtual_mailbox_domains = customer.example shop.example\n"
                           "virtual_mailbox_base = " +
        server.homes().toUtf8() + "\nvirtual_mailbox_maps = texthash:" + mail.file("mailboxes").toUtf8() +
        "\nvirtual_uid_maps = static:65534\nvirtual_gid_maps = static:65534\n"
        // taken first, refused by the delivery: a far server's way
        "smtpd_reject_unlisted_recipient = no\n"))
        << mail.why().toStdString();

    QTemporaryDir work, program;
    write(work.filePath(QStringLiteral("email_Tool.txt")), customers);
    write(work.filePath(QStringLiteral("body.txt")), "Tool 2.0 is out.\r\n");
    write(work.filePath(QStringLiteral("pass")), Dovecot::password().toUtf8() + "\n");
    const QStringList send {QStringLiteral("send"), QStringLiteral("email_Tool.txt"), QStringLiteral("--subject"),
        QStringLiteral("Tool 2.0"), QStringLiteral("--body-file"), QStringLiteral("body.txt"), QStringLiteral("--from"),
        QStringLiteral("sales@shop.example"), QStringLiteral("--server"), mail.server(), QStringLiteral("--security"),
        QStringLiteral("none"), QStringLiteral("--no-copy"), QStringLiteral("--dir"), program.path(),
        QStringLiteral("--start-over")};
    const og::test::CliOutcome first = og::test::runCli(work.path(), send);
    ASSERT_EQ(first.status, 0) << first.err.toStdString();
    ASSERT_TRUE(first.out.contains("Message sent to 10 customers")) << first.out.toStdString();
    ASSERT_TRUE(mail.submit(QStringLiteral("c5@customer.example"), QStringLiteral("sales@shop.example"),
        "From: c5@customer.example\nTo: sales@shop.example\nSubject: Re: Tool 2.0\n\nunsubscribe\n"))
        << mail.why().toStdString();
    QElapsedTimer clock;
    clock.start();
    while (server.messageFiles(QStringLiteral("INBOX")).size() < 3 && clock.elapsed() < 60000) {
        mail.flush();
        QThread::msleep(500);
    }
    ASSERT_EQ(server.messageFiles(QStringLiteral("INBOX")).size(), 3);

    const og::test::CliOutcome read = og::test::runCli(work.path(),
        {QStringLiteral("bounces"), QStringLiteral("--dir"), program.path(), QStringLiteral("--server"),
            QStringLiteral("127.0.0.1:%1").arg(server.plainPort()), QStringLiteral("--ca-file"), server.caFile(),
            QStringLiteral("--user"), Dovecot::user(), QStringLiteral("--password-file"), work.filePath("pass"),
            QStringLiteral("--since"), QDate::currentDate().addDays(-1).toString(Qt::ISODate)});
    ASSERT_EQ(read.status, 0) << read.err.toStdString();
    QByteArrayList bounced = listed(work.filePath(QStringLiteral("bounced.txt")));
    std::sort(bounced.begin(), bounced.end());
    EXPECT_EQ(bounced, QByteArrayList({"c3@customer.example", "c7@customer.example"})) << read.out.toStdString();
    EXPECT_EQ(listed(work.filePath(QStringLiteral("unsubscribed.txt"))), QByteArrayList {"c5@customer.example"});

    const og::test::CliOutcome second = og::test::runCli(work.path(), send);
    EXPECT_EQ(second.status, 0) << second.err.toStdString();
    EXPECT_TRUE(second.out.contains(QRegularExpression(QStringLiteral(
        "Message sent to 7 customers\n3 suppressed: c3@customer.example \\(bounced [^)]*5\\.1\\.1\\), "
        "c5@customer.example \\(unsubscribed [^)]*\\), c7@customer.example \\(bounced [^)]*5\\.1\\.1\\)"))))
        << second.out.toStdString();
}
