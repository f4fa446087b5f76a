#pragma once
// What a message in the vendor's mailbox is, as far as the next send cares:
// a bounce (a delivery status notification, or a provider's bounce in
// words), an unsubscribe request, an auto-reply, or other mail. Pure: the
// message's bytes in, the verdict out; the bytes are a stranger's and are
// parsed by GMime, every value taken from them checked before use.

#include <QByteArrayView>
#include <QDate>
#include <QList>
#include <QString>
#include <QStringList>

namespace og {

struct MailContext {
    // The addresses of the vendor's mailto: unsubscribe links (lower case).
    QStringList unsubscribeAddresses;
    // The vendor's own addresses (the sender, the reply address): never a
    // customer to suppress.
    QStringList ownAddresses;
};

enum class MailKind { Bounce, Unsubscribe, AutoReply, Other };

struct BouncedRecipient {
    QString address;      // empty when the bounce gives a status but names no one readable
    bool hard = false;    // permanent (5.x.x); otherwise soft (4.x.x, or not known)
    bool delayed = false; // a delay notice: the server still tries
    QString status;       // "5.1.1", when given
    QString replyCode;    // "550", when given
};

struct MailVerdict {
    MailKind kind = MailKind::Other;
    QList<BouncedRecipient> bounced; // Bounce: the recipients that failed or were delayed
    QString address;                 // Unsubscribe: whose; otherwise the sender's address
    QString originalMessageId;       // Bounce: the Message-ID of the message that came back, without <>
    QString why;                     // what gave it away, for the summary
    QString subject;
    QDate date; // the Date it carries, when it carries a valid one
};

MailVerdict judgeMail(QByteArrayView raw, const MailContext& context);

} // namespace og
