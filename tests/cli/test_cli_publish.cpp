// ordergate-cli publish as the vendor runs it, against the sshd and apache2
// that the test starts on 127.0.0.1.

#include "CliProcess.h"
#include "orders/AccountLedger.h"
#include "tests/publish/PublishServers.h"

#include <QFile>

#include <gtest/gtest.h>

namespace og {
namespace {

TEST(CliPublish, DryRunPublishAndTheHostKey)
{
    test::PublishServers servers;
    QString why;
    if (!servers.start(&why)) {
        if (why.startsWith(u"/run/sshd"))
            GTEST_SKIP() << why.toStdString();
        FAIL() << why.toStdString();
    }
    const QString dir = servers.scratch();
    PublishSettings s = servers.settings();
    s.checkUrl.clear(); // given on the command line below
    s.save(dir + QStringLiteral("ordergate.ini"));
    QFile ledger(dir + QStringLiteral("accounts_Tool.txt"));
    ASSERT_TRUE(ledger.open(QIODevice::WriteOnly));
    ledger.write(AccountLedger::headerLine(QStringLiteral("Tool")) + "\r\n" +
        "a@x.com\tSesame1001\t1\t1\r\nb@x.com\tSesame1002\t1\t1\r\n" + AccountLedger::countLine(2) + "\r\n");
    ledger.close();
    const QStringList base {QStringLiteral("publish"), QStringLiteral("Tool"), QStringLiteral("--dir"), dir};

    EXPECT_EQ(test::runCli(dir, {QStringLiteral("publish"), QStringLiteral("--dir"), dir}).status, 2);

    const QStringList unknown =
        base + QStringList {QStringLiteral("--known-hosts"), dir + QStringLiteral("new_known_hosts")};
    const test::CliOutcome refused = test::runCli(dir, unknown);
    EXPECT_EQ(refused.status, 1);
    EXPECT_TRUE(refused.err.contains(QStringLiteral("--accept-host-key ") + servers.hostFingerprint()))
        << refused.err.toStdString();

    const test::CliOutcome dry = test::runCli(dir, base + QStringList {QStringLiteral("--dry-run")});
    EXPECT_EQ(dry.status, 0) << dry.err.toStdString();
    EXPECT_TRUE(dry.out.contains(u"3 new, 0 changed, 0 removed, 0 kept")) << dry.out.toStdString();
    EXPECT_FALSE(QFile::exists(servers.siteFile(QStringLiteral(".htpasswd"))));

    const test::CliOutcome done =
        test::runCli(dir, base + QStringList {QStringLiteral("--check-url"), servers.checkUrl()});
    EXPECT_EQ(done.status, 0) << done.err.toStdString();
    EXPECT_TRUE(done.out.contains(u"Login check passed for all 3 accounts tried")) << done.out.toStdString();
    // (a word no port or folder name holds by chance, as "1001" could)
    EXPECT_FALSE(done.out.contains(u"Sesame")) << "no password is shown";

    const test::CliOutcome accepted = test::runCli(dir,
        unknown +
            QStringList {QStringLiteral("--accept-host-key"), servers.hostFingerprint(), QStringLiteral("--undo")});
    EXPECT_EQ(accepted.status, 1) << "the key is taken; there is no step back yet";
    EXPECT_TRUE(accepted.err.contains(u"nothing to undo")) << accepted.err.toStdString();
}

} // namespace
} // namespace og
