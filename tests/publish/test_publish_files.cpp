// The publishing library without a server: the three hashes, the .htpasswd
// as Apache reads it, the plan against the server's file, the settings.

#include "orders/AccountLedger.h"
#include "publish/HtpasswdFile.h"
#include "publish/PasswordHash.h"
#include "publish/PublishError.h"
#include "publish/PublishSettings.h"
#include "publish/Publisher.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace og {
namespace {

TEST(PublishHash, EachKindVerifiesItsPasswordOnly)
{
    for (const auto& [kind, prefix] : {std::pair {HashKind::Md5, "$apr1$"}, std::pair {HashKind::Bcrypt, "$2y$10$"},
             std::pair {HashKind::Sha512, "$6$"}}) {
        SCOPED_TRACE(prefix);
        const QByteArray hash = makeHash(kind, "Order 12345");
        EXPECT_TRUE(hash.startsWith(prefix));
        EXPECT_EQ(hashKindOf(hash), kind);
        EXPECT_TRUE(hashMatches(hash, "Order 12345"));
        EXPECT_FALSE(hashMatches(hash, "Order 12346"));
        EXPECT_NE(makeHash(kind, "Order 12345"), hash) << "a new salt each time";
    }
    // Hashes of "password" made by other programs (openssl passwd -apr1 and -6, htpasswd -B).
    for (const char* other : {"$apr1$abcdefgh$FBwExRW4dCc8aL.OvjpIE1",
             "$6$saltsalt$qFmFH.bQmmtXzyBY0s9v7Oicd2z4XSIecDzlB5KiA2/jctKu9YterLp8wwnSq.qc.eoxqOmSuNp2xS0ktL3nh/",
             "$2y$05$TSoeLNLwL8RV8uEkHAJPuuBCBIyD8kieVBrjDLIlX3d8iIW0aNz1."}) {
        EXPECT_TRUE(hashMatches(other, "password")) << other;
        EXPECT_FALSE(hashMatches(other, "Password")) << other;
    }
    EXPECT_FALSE(hashMatches("{SHA}W6ph5Mm5Pz8GgiULbPgzG37mj9g=", "password")) << "a kind not made here";
    EXPECT_THROW(makeHash(HashKind::Md5, QByteArrayView("a\0b", 3)), PublishError);
}

TEST(PublishHtpasswd, ReadsAsApacheDoes)
{
    const auto lines = parseHtpasswd("# comment\r\n\n  a@x:$apr1$s$h  \r\nb@x:hash:extra\nc@x\na@x:later\n");
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0].user, "a@x");
    EXPECT_EQ(lines[0].hash, "$apr1$s$h") << "the first line of a user counts";
    EXPECT_EQ(lines[1].hash, "hash");
    EXPECT_EQ(lines[2].hash, "");
    EXPECT_EQ(writeHtpasswd(lines), "a@x:$apr1$s$h\nb@x:hash\nc@x:\n");
}

TEST(PublishHtpasswd, PlanCountsAgainstTheServersFile)
{
    const QByteArray same = makeHash(HashKind::Md5, "1"), other = makeHash(HashKind::Md5, "2");
    const QByteArray oldKind = makeHash(HashKind::Sha512, "4");
    const QByteArray current =
        "kept@x:" + same + "\nchanged@x:" + other + "\ngone@x:" + same + "\nrehash@x:" + oldKind + "\n";
    const std::vector<PublishAccount> accounts {
        {"kept@x", "1"}, {"changed@x", "3"}, {"new@x", "5"}, {"rehash@x", "4"}, {"new@x", "6"}};
    const HtpasswdPlan plan = planHtpasswd(accounts, current, HashKind::Md5);
    EXPECT_EQ(plan.counts.added, 1);
    EXPECT_EQ(plan.counts.changed, 1);
    EXPECT_EQ(plan.counts.removed, 1);
    EXPECT_EQ(plan.counts.kept, 2);
    EXPECT_EQ(plan.counts.rehashed, 1);
    EXPECT_EQ(plan.counts.total, 4);
    const auto lines = parseHtpasswd(plan.file);
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[0].hash, same) << "a verified line stays as it was";
    EXPECT_TRUE(hashMatches(lines[1].hash, "3"));
    EXPECT_EQ(lines[2].user, "new@x");
    EXPECT_TRUE(hashMatches(lines[2].hash, "6")) << "the later password of a user";
    EXPECT_EQ(hashKindOf(lines[3].hash), HashKind::Md5);
    ASSERT_EQ(plan.removed.size(), 1u);
    EXPECT_EQ(plan.removed[0], "gone@x");
}

TEST(PublishSettingsFile, RoundTripsAndChoosesTheHash)
{
    QTemporaryDir dir;
    const QString ini = dir.filePath(QStringLiteral("ordergate.ini"));
    PublishSettings s;
    s.host = QStringLiteral("www.example.com");
    s.port = 2222;
    s.folder = QStringLiteral("/var/www/dl");
    s.hash = QStringLiteral("sha512");
    s.save(ini);
    EXPECT_EQ(PublishSettings::load(ini), s);
    EXPECT_EQ(s.keyringKey(), QStringLiteral("ssh:@www.example.com:2222"));

    Options options;
    HashKind kind {};
    QString why;
    for (const auto& [word, bcryptOption, expected] :
        {std::tuple {"", false, HashKind::Md5}, std::tuple {"", true, HashKind::Bcrypt},
            std::tuple {"SHA512", false, HashKind::Sha512}, std::tuple {"md5", true, HashKind::Md5}}) {
        s.hash = QString::fromLatin1(word);
        options.passhash = bcryptOption ? QStringLiteral("bcrypt") : QString();
        ASSERT_TRUE(s.hashKind(options, &kind, &why)) << word;
        EXPECT_EQ(kind, expected) << word;
    }
    s.hash = QStringLiteral("des");
    EXPECT_FALSE(s.hashKind(options, &kind, &why));
    EXPECT_TRUE(why.contains(u"des"));

    EXPECT_EQ(parseMode(QStringLiteral("644")), 0644);
    EXPECT_EQ(parseMode(QStringLiteral("0750")), 0750);
    for (const char* bad : {"", "64", "648", "u+rw", "77777"})
        EXPECT_EQ(parseMode(QLatin1String(bad)), -1) << bad;
}

TEST(PublishAccounts, TheLedgerThenTheTestAccount)
{
    QTemporaryDir dir;
    const QString folder = dir.path() + u'/';
    Options options;
    qsizetype skipped = 0;
    EXPECT_THROW(accountsToPublish(folder, QStringLiteral("Tool"), options, &skipped), PublishError);
    QFile ledger(folder + QStringLiteral("accounts_Tool.txt"));
    ASSERT_TRUE(ledger.open(QIODevice::WriteOnly));
    ledger.write(AccountLedger::headerLine(QStringLiteral("Tool")) + "\r\n" +
        "a@x\t111\t1\t2\r\nno-password@x\t\t1\t1\r\n" + "b:c@x\t222\t1\t1\r\nd@x\t333\t2\t2\r\n" +
        AccountLedger::countLine(4) + "\r\n");
    ledger.close();
    const auto accounts = accountsToPublish(folder, QStringLiteral("Tool"), options, &skipped);
    ASSERT_EQ(accounts.size(), 3u);
    EXPECT_EQ(accounts[0].user, "a@x");
    EXPECT_EQ(accounts[1].password, "333");
    EXPECT_EQ(accounts[2].user, options.user.toUtf8());
    EXPECT_EQ(skipped, 2);

    ASSERT_TRUE(ledger.open(QIODevice::WriteOnly | QIODevice::Truncate));
    ledger.write(AccountLedger::headerLine(QStringLiteral("Tool")) + "\r\n" + "a@x\t111\t1\t2\r\n" +
        AccountLedger::countLine(4) + "\r\n");
    ledger.close();
    EXPECT_THROW(accountsToPublish(folder, QStringLiteral("Tool"), options, &skipped), PublishError)
        << "a ledger that lost lines would remove their accounts from the server";
}

} // namespace
} // namespace og
