// What the mailbox's messages are judged to be, over the samples of
// tests/mailbox/mail (delivery reports, providers' bounces in words,
// auto-replies, unsubscribe requests, ordinary mail); the IMAP reply
// reader; the state kept between reads.

#include "mailbox/ImapReply.h"
#include "mailbox/ReadState.h"
#include "mailbox/ReturnedMail.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

using og::MailKind;

og::MailContext vendor()
{
    return {{QStringLiteral("unsubscribe@shop.example")}, {QStringLiteral("sales@shop.example")}};
}

QByteArray sample(const char* name)
{
    QFile file(QStringLiteral(OG_MAIL_DIR "/") + QLatin1String(name));
    EXPECT_TRUE(file.open(QIODevice::ReadOnly)) << name;
    return file.readAll();
}

struct Expected {
    const char* file;
    MailKind kind;
    const char* address; // the bounced recipient, or whose request / reply
    bool hard;
    const char* status;
    const char* replyCode;
    const char* originalId;
};

const Expected kSamples[] = {
    // as Debian's postfix 3.7 returned a notification to an unknown local user
    {"../postfix/unknown-user.eml", MailKind::Bounce, "left.years.ago@customer.example", true, "5.1.1", "",
        "1j28bdu1ur2.hk98o2uo1npogb88q31ahd79@mail.shop.example"},
    {"dsn-postfix-hard.eml", MailKind::Bounce, "gone@customer.example", true, "5.1.1", "550",
        "mz3k1.q7f2a9c4@shop.example"},
    {"dsn-delayed.eml", MailKind::Bounce, "slow@customer.example", false, "4.4.1", "", "mz3k2.aa01@shop.example"},
    {"dsn-o365-hard.eml", MailKind::Bounce, "left@customer.example", true, "5.1.10", "550", "mz3k3.bb02@shop.example"},
    {"exim-failed.eml", MailKind::Bounce, "olduser@customer.example", true, "5.1.1", "550", "mz3k4.cc03@shop.example"},
    {"qmail-yahoo.eml", MailKind::Bounce, "nobody@yahoo.example", true, "", "554", "mz3k5.dd04@shop.example"},
    {"gmail-text.eml", MailKind::Bounce, "lost@gmail.example", true, "5.1.1", "550", ""},
    {"exchange-text-soft.eml", MailKind::Bounce, "full@customer.example", false, "4.2.2", "452", ""},
    {"autoreply-header.eml", MailKind::AutoReply, "pat@customer.example", false, "", "", ""},
    {"autoreply-vacation.eml", MailKind::AutoReply, "lee@customer.example", false, "", "", ""},
    {"unsubscribe-mailto.eml", MailKind::Unsubscribe, "sam@customer.example", false, "", "", ""},
    {"unsubscribe-reply.eml", MailKind::Unsubscribe, "robin@customer.example", false, "", "", ""},
    {"ordinary.eml", MailKind::Other, "kim@customer.example", false, "", "", ""},
};

TEST(MailboxJudge, SamplesAreJudgedAsTheyAre)
{
    for (const Expected& e : kSamples) {
        SCOPED_TRACE(e.file);
        const og::MailVerdict v = og::judgeMail(sample(e.file), vendor());
        ASSERT_EQ(v.kind, e.kind) << v.why.toStdString();
        EXPECT_EQ(v.originalMessageId, QLatin1String(e.originalId));
        if (e.kind != MailKind::Bounce) {
            EXPECT_EQ(v.address, QLatin1String(e.address));
            continue;
        }
        ASSERT_EQ(v.bounced.size(), 1);
        EXPECT_EQ(v.bounced[0].address, QLatin1String(e.address));
        EXPECT_EQ(v.bounced[0].hard, e.hard);
        EXPECT_EQ(v.bounced[0].status, QLatin1String(e.status));
        EXPECT_EQ(v.bounced[0].replyCode, QLatin1String(e.replyCode));
    }
}

TEST(MailboxJudge, ReportsOfDeliveryAndHostileValuesNameNoOne)
{
    // A report of success bounces no one.
    EXPECT_TRUE(og::judgeMail(sample("dsn-delivered.eml"), vendor()).bounced.isEmpty());
    // Recipients that are no address, or the vendor's own, are never taken.
    const QByteArray hostile =
        "From: MAILER-DAEMON@x.example\nTo: sales@shop.example\n"
        "Content-Type: multipart/report; report-type=delivery-status; boundary=q\n\n--q\n"
        "Content-Type: message/delivery-status\n\nReporting-MTA: dns; x\n\n"
        "Final-Recipient: rfc822; ../../etc/passwd\nAction: failed\nStatus: 5.1.1\n\n"
        "Final-Recipient: rfc822; sales@shop.example\nAction: failed\nStatus: 5.1.1\n\n"
        "Final-Recipient: rfc822; a b@c.example\nAction: failed\nStatus: 5.1.1\n\n"
        "Final-Recipient: rfc822; <Good@Customer.example>\nAction: failed\nStatus: 5.7.1\n--q--\n";
    const og::MailVerdict v = og::judgeMail(hostile, vendor());
    ASSERT_EQ(v.bounced.size(), 1);
    EXPECT_EQ(v.bounced[0].address, QStringLiteral("good@customer.example"));
    // Not a message at all.
    EXPECT_EQ(og::judgeMail(QByteArray("\x00\xff\r\n\r\n", 6), vendor()).kind, MailKind::Other);
}

TEST(MailboxImapReply, RepliesAreReadWithTheirLiteralsInAnyCut)
{
    const QByteArray reply = "* 3 FETCH (UID 7 BODY[]<0> {12}\r\nline1\r\nx1 OK)\r\n"
                             "* 4 FETCH (FLAGS (\\Seen))\r\nx1 OK done\r\n";
    for (const qsizetype cut : {qsizetype(1), qsizetype(5), reply.size()}) {
        og::ImapReplyReader reader("x1", 1 << 20);
        for (qsizetype at = 0; at < reply.size(); at += cut)
            reader.feed(QByteArrayView(reply).sliced(at, std::min(cut, reply.size() - at)));
        ASSERT_EQ(reader.state(), og::ImapReplyReader::State::Done);
        EXPECT_EQ(reader.status(), "OK");
        ASSERT_EQ(reader.untagged().size(), 2);
        EXPECT_EQ(reader.untagged()[0].literals.value(0), "line1\r\nx1 OK"); // a tag inside a literal is content
        EXPECT_EQ(og::imapItem(reader.untagged()[0].text, "UID"), "7");
    }
    const struct {
        QByteArray reply;
        qsizetype limit;
    } malformed[] = {
        {"* 1 FETCH (BODY[] {99999999999}\r\n", 1 << 20},
        {"garbage\r\n", 1 << 20},
        {"* 1 FETCH (BODY[] {10}\r\n0123456789)\r\n", 8},
    };
    for (const auto& m : malformed) {
        og::ImapReplyReader reader("x1", m.limit);
        EXPECT_EQ(reader.feed(m.reply), og::ImapReplyReader::State::Malformed) << m.reply.constData();
    }
}

TEST(MailboxReadState, ReadUidsAndSoftBouncesSurviveTheFile)
{
    QTemporaryDir dir;
    const QString path = og::ReadState::pathIn(dir.path());
    const QString account = QStringLiteral("me@imap.example:993"), folder = QStringLiteral("Bounces äß");
    og::ReadState state;
    QString why;
    for (const quint32 uid : {1u, 2u, 3u, 7u})
        state.markRead(account, folder, 42, uid);
    const QString a = QStringLiteral("slow@customer.example");
    // Repeated notices of one message, and a second on one day, count once.
    EXPECT_FALSE(state.softBounce(a, QDate(2026, 12, 1), QStringLiteral("m1@shop.example")));
    EXPECT_FALSE(state.softBounce(a, QDate(2026, 12, 3), QStringLiteral("m1@shop.example")));
    EXPECT_FALSE(state.softBounce(a, QDate(2026, 12, 1), QStringLiteral("m2@shop.example")));
    EXPECT_FALSE(state.softBounce(a, QDate(2026, 12, 5), QStringLiteral("m3@shop.example")));
    ASSERT_TRUE(state.save(path, &why)) << why.toStdString();

    og::ReadState again;
    ASSERT_TRUE(again.load(path, &why));
    EXPECT_EQ(again.readUids(account, folder, 42), (QSet<quint32> {1, 2, 3, 7}));
    EXPECT_TRUE(again.readUids(account, folder, 43).isEmpty()); // a new UIDVALIDITY: read afresh
    EXPECT_EQ(again.softBounceDays(a), 2);
    EXPECT_TRUE(again.softBounce(a, QDate(2026, 12, 9), QStringLiteral("m4@shop.example")));
    EXPECT_EQ(again.softBounceDays(a), 0);
}

} // namespace
