// ordergate-cli bounces against Debian's dovecot started by the test: what
// it prints and adds to the lists, that a second read adds nothing, and
// that a mailbox it cannot read changes nothing.

#include "tests/cli/CliProcess.h"
#include "tests/support/Dovecot.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

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
