// Publishing against real servers on 127.0.0.1: Debian's sshd takes the
// file, Debian's Apache lets the customers in (or not) with it.

#include "orders/AccountLedger.h"
#include "publish/PublishError.h"
#include "publish/Publisher.h"
#include "tests/publish/PublishServers.h"

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>
#include <sys/stat.h>

namespace og {
namespace {

using Accounts = std::vector<std::pair<const char*, const char*>>;

class PublishOnServers : public ::testing::Test {
protected:
    void SetUp() override
    {
        QString why;
        if (!servers.start(&why)) {
            if (why.startsWith(u"/run/sshd"))
                GTEST_SKIP() << why.toStdString();
            FAIL() << why.toStdString();
        }
    }
    // The ledger of the product "Tool", as the last run left it.
    void writeLedger(const Accounts& accounts)
    {
        QFile f(servers.scratch() + QStringLiteral("accounts_Tool.txt"));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(AccountLedger::headerLine(QStringLiteral("Tool")) + "\r\n");
        for (const auto& [user, password] : accounts)
            f.write(QByteArray(user) + '\t' + password + "\t20260101\t20260101\r\n");
        f.write(AccountLedger::countLine(qsizetype(accounts.size())) + "\r\n");
    }
    PublishRequest request(PublishMode mode = PublishMode::Publish)
    {
        PublishRequest r;
        r.settings = servers.settings();
        r.programFolder = servers.scratch();
        r.product = QStringLiteral("Tool");
        r.mode = mode;
        r.checkSample = 0; // every account tried
        r.timeoutSeconds = 10;
        return r;
    }
    QByteArray served(const char* name = ".htpasswd")
    {
        QFile f(servers.siteFile(QLatin1String(name)));
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("(missing)");
    }
    static int mode(const QString& path)
    {
        struct stat st { };
        return ::stat(QFile::encodeName(path).constData(), &st) == 0 ? int(st.st_mode & 07777) : -1;
    }
    static void expectAllPassed(const PublishResult& result, size_t tried)
    {
        EXPECT_TRUE(result.checked);
        EXPECT_EQ(result.checks.size(), tried);
        for (const LoginOutcome& o : result.checks)
            EXPECT_TRUE(o.passed()) << o.describe().toStdString();
    }

    test::PublishServers servers;
};

class PublishEachHash : public PublishOnServers, public ::testing::WithParamInterface<HashKind> { };

// A first publish, a second with one account removed and one changed (dry
// run first), and the step back; every account tried at Apache each time.
TEST_P(PublishEachHash, PublishChangeAndUndo)
{
    writeLedger({{"a@x.com", "1001"}, {"b@x.com", "1002"}, {"c@x.com", "1003"}});
    PublishRequest r = request();
    r.settings.hash = wordOf(kHashWords, GetParam());
    const PublishResult first = publish(r);
    EXPECT_EQ(first.counts.added, 4) << "three customers and the test account";
    EXPECT_TRUE(first.firstPublish);
    expectAllPassed(first, 4);
    const QByteArray firstFile = served();
    for (const HtpasswdLine& line : parseHtpasswd(firstFile))
        EXPECT_EQ(hashKindOf(line.hash), GetParam()) << line.hash.constData();
    EXPECT_EQ(mode(servers.siteFile(QStringLiteral(".htpasswd"))), 0644);
    EXPECT_EQ(mode(servers.siteFile(QStringLiteral(".htaccess"))), 0644);
    EXPECT_EQ(mode(servers.siteFile(QStringLiteral("setup.zip"))), 0777);
    EXPECT_EQ(first.modesSet, 1);

    writeLedger({{"a@x.com", "1001"}, {"b@x.com", "2002"}});
    r.mode = PublishMode::DryRun;
    const PublishResult dry = publish(r);
    EXPECT_EQ(served(), firstFile) << "a dry run changes nothing";
    EXPECT_TRUE(dry.checks.empty());
    r.mode = PublishMode::Publish;
    const PublishResult second = publish(r);
    for (const PublishResult* result : {&dry, &second}) {
        EXPECT_EQ(result->counts.added, 0);
        EXPECT_EQ(result->counts.changed, 1);
        EXPECT_EQ(result->counts.removed, 1);
        EXPECT_EQ(result->counts.kept, 2);
    }
    expectAllPassed(second, 4); // three get in, the removed one is refused
    EXPECT_EQ(served(".htpasswd.previous"), firstFile);

    r.mode = PublishMode::Undo;
    const PublishResult undone = publish(r);
    EXPECT_EQ(served(), firstFile);
    EXPECT_EQ(undone.counts.added, 1);
    const auto back = checkLogins(servers.checkUrl(), {{"c@x.com", "1003", true}, {"b@x.com", "2002", false}}, 10);
    for (const LoginOutcome& o : back)
        EXPECT_TRUE(o.passed()) << o.describe().toStdString();
}

INSTANTIATE_TEST_SUITE_P(Hashes, PublishEachHash, ::testing::Values(HashKind::Md5, HashKind::Bcrypt, HashKind::Sha512),
    [](const ::testing::TestParamInfo<HashKind>& info) { return wordOf(kHashWords, info.param).toStdString(); });

TEST_F(PublishOnServers, HostKeyMustBeKnownOrAccepted)
{
    writeLedger({{"a@x.com", "1001"}});
    PublishRequest r = request();
    r.settings.knownHosts = servers.wrongKnownHosts();
    r.acceptedFingerprint = servers.hostFingerprint(); // a changed key is refused all the same
    try {
        publish(r);
        ADD_FAILURE() << "a wrong host key was taken";
    } catch (const PublishError& e) {
        EXPECT_TRUE(e.message().contains(u"is not the one")) << e.what();
    }
    EXPECT_EQ(served(), "(missing)");

    r.settings.knownHosts = servers.scratch() + QStringLiteral("known_hosts");
    r.acceptedFingerprint.clear();
    try {
        publish(r);
        ADD_FAILURE() << "an unknown host key was taken";
    } catch (const UnknownHostKey& e) {
        EXPECT_EQ(e.fingerprint(), servers.hostFingerprint());
        EXPECT_TRUE(e.message().contains(e.fingerprint()));
    }
    r.acceptedFingerprint = servers.hostFingerprint();
    EXPECT_EQ(publish(r).counts.added, 2);
    r.acceptedFingerprint.clear();
    EXPECT_EQ(publish(r).counts.kept, 2) << "the accepted key was added to the known hosts";
}

TEST_F(PublishOnServers, LostConnectionLeavesTheOldFile)
{
    writeLedger({{"a@x.com", "1001"}});
    PublishRequest r = request();
    publish(r);
    const QByteArray before = served();
    writeLedger({{"b@x.com", "1002"}});
    r.beforeReplace = [this] { servers.killSsh(); };
    EXPECT_THROW(publish(r), PublishError);
    EXPECT_EQ(served(), before);

    QString why;
    ASSERT_TRUE(servers.startSsh(&why)) << why.toStdString();
    r.beforeReplace = nullptr;
    const PublishResult again = publish(r);
    EXPECT_EQ(again.counts.added, 1);
    EXPECT_EQ(again.counts.removed, 1);
    EXPECT_EQ(QDir(servers.site()).entryList({QStringLiteral("*.tmp-*")}, QDir::Hidden | QDir::Files), QStringList())
        << "the left temporary file was removed";
}

} // namespace
} // namespace og
