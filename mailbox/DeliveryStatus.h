#pragma once
// The machine-readable part of a delivery status notification (RFC 3464,
// message/delivery-status; RFC 6533's message/global-delivery-status): a
// group of fields about the report, then one group per recipient, groups
// separated by blank lines. Pure and tolerant: a field or group it cannot
// read is skipped.

#include <QByteArrayView>
#include <QList>
#include <QString>

namespace og {

struct RecipientStatus {
    QString finalRecipient;    // the address, without its type ("rfc822;")
    QString originalRecipient; // as the sender gave it, when reported
    QString action;            // failed, delayed, delivered, relayed, expanded (lower case)
    QString status;            // "5.1.1"; empty when it is no status code
    QString diagnostic;        // the remote server's words, when reported ("smtp; 550 5.1.1 ...")
};

QList<RecipientStatus> parseDeliveryStatus(QByteArrayView body);

// A status code "class.subject.detail" (RFC 3463) found at the start of
// text: class 2, 4 or 5, subject and detail of 1 to 3 digits. Empty when
// there is none.
QString leadingStatusCode(QStringView text);
// The first status code anywhere in text, and the first SMTP reply code
// (a 4xx or 5xx standing alone) anywhere in it.
QString findStatusCode(QStringView text);
QString findReplyCode(QStringView text);

// An address as it may go into a list: one "@" with text on both sides,
// printable ASCII or other letters, no blanks, quotes, angle brackets or
// commas, at most 254 characters. Lower case. Empty when it is no such address.
QString plainAddress(QStringView text);

} // namespace og
