#pragma once
// What the bounces of mail servers that send no delivery report part say
// in their text: the common shapes of the big providers and mail servers
// (Exim, qmail and Yahoo, Microsoft 365 and Exchange, Google, Postfix's
// text). Pure: the text is the message's own words, decoded.

#include <QString>
#include <QStringList>

namespace og {

// Whether a message with this sender and subject reads as a bounce: a
// mailer daemon or postmaster as sender, or a subject the providers give
// their bounces and delay notices.
bool looksLikeBounce(const QString& fromAddress, const QString& fromName, const QString& subject);

struct TextBounce {
    QString address;   // empty when the text names no recipient
    QString status;    // "5.1.1", when the text holds one
    QString replyCode; // "550", when the text holds one
    bool hard = false;
    bool delayed = false; // a delay notice: still being tried
};
// Reads the recipient and the status from a bounce's text. notThese: the
// vendor's own addresses and the bounce's sender, never the recipient.
TextBounce readBounceText(const QString& subject, const QString& text, const QStringList& notThese);

} // namespace og
