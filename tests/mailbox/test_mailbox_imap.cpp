// Reading a real IMAP server: Debian's dovecot, started by the test on
// 127.0.0.1 with a Maildir holding the samples of tests/mailbox/mail. The
// ways to connect and log in, what a read finds and suppresses, and that a
// second read adds nothing and the mailbox stays as it was.

#include "mailbox/BounceCheck.h"
#include "mailbox/ImapConnection.h"
#include "mailbox/MailboxFailure.h"
#include "tests/support/Dovecot.h"
#include "tests/support/OAuthTestServer.h"

#include <QJsonDocument>

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

#include <memory>

namespace {

using og::MailboxSecurity;
using og::test::Dovecot;

class MailboxImap : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        server = std::make_unique<Dovecot>();
        const QStringList inbox = QDir(QStringLiteral(OG_MAIL_DIR)).entryList({QStringLiteral("*.eml")}, QDir::Files);
        for (const QString& name : inbox) {
            QFile file(QStringLiteral(OG_MAIL_DIR "/") + name);
            file.open(QIODevice::ReadOnly);
            // The providers' bounces in a folder of their own, as a vendor's rule may file them.
            server->deliver(name.startsWith(u"dsn-") || name.startsWith(u"exim") ? QStringLiteral("Bounces")
                                                                                 : QStringLiteral("INBOX"),
                file.readAll());
        }
        started = server->start();
    }
    static void TearDownTestSuite() { server.reset(); }
    void SetUp() override { ASSERT_TRUE(started) << server->why().toStdString(); }

    static og::MailboxServer at(MailboxSecurity security, bool tlsPort)
    {
        og::MailboxServer s;
        s.host = QStringLiteral("127.0.0.1");
        s.port = tlsPort ? server->tlsPort() : server->plainPort();
        s.security = security;
        s.caFile = server->caFile();
        s.timeoutSeconds = 20;
        return s;
    }
    static og::BounceCheckInput input()
    {
        og::BounceCheckInput in;
        in.server = at(MailboxSecurity::Automatic, false);
        in.user = Dovecot::user();
        in.password = Dovecot::password();
        in.folders = QStringList {QStringLiteral("INBOX"), QStringLiteral("Bounces")};
        in.since = QDate::currentDate().addDays(-3);
        in.today = QDate::currentDate();
        in.context = {{QStringLiteral("unsubscribe@shop.example")}, {QStringLiteral("sales@shop.example")}};
        return in;
    }

    static inline std::unique_ptr<Dovecot> server;
    static inline bool started = false;
};

TEST_F(MailboxImap, ConnectsAndLogsInAsAsked)
{
    enum class Outcome { Reads, LoginRefused, Fails };
    const struct {
        const char* name;
        MailboxSecurity security;
        bool tlsPort;
        bool trust; // the test's authority (else the system's, which does not know it)
        bool noVerify;
        const char* password;
        Outcome outcome;
    } cases[] = {
        {"STARTTLS", MailboxSecurity::StartTls, false, true, false, nullptr, Outcome::Reads},
        {"automatic: STARTTLS on another port than 993", MailboxSecurity::Automatic, false, true, false, nullptr,
            Outcome::Reads},
        {"TLS from the start", MailboxSecurity::Tls, true, true, false, nullptr, Outcome::Reads},
        {"plain, as asked", MailboxSecurity::None, false, false, false, nullptr, Outcome::Reads},
        {"an unknown authority", MailboxSecurity::Tls, true, false, false, nullptr, Outcome::Fails},
        {"an unknown authority, not checked", MailboxSecurity::Tls, true, false, true, nullptr, Outcome::Reads},
        {"TLS to the plain port", MailboxSecurity::Tls, false, true, false, nullptr, Outcome::Fails},
        {"a wrong password", MailboxSecurity::StartTls, false, true, false, "wrong", Outcome::LoginRefused},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        og::MailboxServer s = at(c.security, c.tlsPort);
        if (!c.trust)
            s.caFile.clear();
        s.noVerify = c.noVerify;
        const og::ImapLogin login {
            Dovecot::user(), c.password ? QString::fromLatin1(c.password) : Dovecot::password(), {}};
        try {
            og::ImapConnection imap(s, login);
            EXPECT_GT(imap.examine(QStringLiteral("INBOX")).messages, 0u);
            EXPECT_EQ(c.outcome, Outcome::Reads);
        } catch (const og::MailboxLoginRefused& refused) {
            EXPECT_EQ(c.outcome, Outcome::LoginRefused) << refused.what();
        } catch (const og::MailboxFailure& failure) {
            EXPECT_EQ(c.outcome, Outcome::Fails) << failure.what();
            EXPECT_TRUE(failure.message().contains(QString::number(s.port))) << failure.what();
        }
    }
}

TEST_F(MailboxImap, AReadFindsWhatCameBackOnceAndChangesNothingThere)
{
    const QStringList before =
        server->messageFiles(QStringLiteral("INBOX")) + server->messageFiles(QStringLiteral("Bounces"));
    og::ReadState state;
    const og::BounceReport report = og::checkMailbox(input(), state);
    QStringList hard, soft, unsubscribed, ignored;
    for (const og::MailFinding& f : report.found) {
        QStringList* into[] = {&hard, &soft, &unsubscribed, &ignored};
        *into[int(f.what)] << f.address;
    }
    for (QStringList* list : {&hard, &soft, &unsubscribed, &ignored})
        list->sort();
    EXPECT_EQ(hard,
        (QStringList {"gone@customer.example", "left@customer.example", "lost@gmail.example", "nobody@yahoo.example",
            "olduser@customer.example"}));
    EXPECT_EQ(soft, (QStringList {"full@customer.example", "slow@customer.example"}));
    EXPECT_EQ(unsubscribed, (QStringList {"robin@customer.example", "sam@customer.example"}));
    EXPECT_EQ(ignored, (QStringList {"lee@customer.example", "mailer-daemon@mx.shop.example", "pat@customer.example"}));
    EXPECT_EQ(report.otherMail, 1);
    // Hard bounces and unsubscribes at once; a first soft bounce not yet.
    EXPECT_EQ(report.suppress.size(), hard.size() + unsubscribed.size());

    // A second read finds nothing; a message delivered since is found alone.
    EXPECT_TRUE(og::checkMailbox(input(), state).found.isEmpty());
    QFile later(QStringLiteral(OG_MAIL_DIR "/unsubscribe-mailto.eml"));
    later.open(QIODevice::ReadOnly);
    server->deliver(QStringLiteral("INBOX"), later.readAll().replace("sam@", "alex@"));
    const og::BounceReport third = og::checkMailbox(input(), state);
    ASSERT_EQ(third.found.size(), 1);
    EXPECT_EQ(third.found[0].address, QStringLiteral("alex@customer.example"));

    // Nothing was marked, moved or deleted: every message is where it was, unseen.
    QStringList after = server->messageFiles(QStringLiteral("INBOX")) + server->messageFiles(QStringLiteral("Bounces"));
    EXPECT_EQ(after.size(), before.size() + 1);
    for (const QString& name : std::as_const(after))
        EXPECT_FALSE(name.section(u':', 1).contains(u'S')) << name.toStdString();
}

TEST_F(MailboxImap, AFolderThatIsNotThereFailsTheRead)
{
    og::BounceCheckInput in = input();
    in.folders << QStringLiteral("No \"such\" Ordner");
    og::ReadState state;
    EXPECT_THROW(og::checkMailbox(in, state), og::MailboxFailure);
}

// Logins by token against dovecot's OAuth2 check (2.3's passdb, 2.4's
// mechanisms), which asks the test's authorization server whether the token is live and whose it is.
TEST(MailboxImapToken, LogsInWithALiveTokenOfTheUserOnly)
{
    og::test::OAuthTestServer authority;
    ASSERT_TRUE(authority.start());
    Dovecot server;
    server.setTokenCheck(authority.url(QStringLiteral("/check?token=")));
    ASSERT_TRUE(server.start()) << server.why().toStdString();
    const auto mint = [&](const char* user) {
        const og::test::OAuthTestServer::Answer a =
            og::test::OAuthTestServer::get(authority.url(QStringLiteral("/mint?user=") + QLatin1String(user)));
        return QJsonDocument::fromJson(a.text.toUtf8())[QLatin1String("access_token")].toString();
    };
    const struct {
        const char* name;
        QString token;
        bool reads;
    } cases[] = {
        {"the user's token", mint("vendor"), true},
        {"another user's token", mint("someone"), false},
        {"no token of the server's", QStringLiteral("made-up"), false},
    };
    og::MailboxServer s;
    s.host = QStringLiteral("127.0.0.1");
    s.port = server.plainPort();
    s.security = MailboxSecurity::StartTls;
    s.caFile = server.caFile();
    s.timeoutSeconds = 20;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        try {
            og::ImapConnection imap(s, {Dovecot::user(), {}, c.token});
            EXPECT_TRUE(c.reads);
            imap.examine(QStringLiteral("INBOX"));
        } catch (const og::MailboxLoginRefused& refused) {
            EXPECT_FALSE(c.reads) << refused.what();
        }
    }
}

} // namespace
