#include "mailbox/BounceText.h"

#include "mailbox/DeliveryStatus.h"

#include <QRegularExpression>

namespace og {

namespace {

using Pattern = QRegularExpression;
constexpr auto Caseless = QRegularExpression::CaseInsensitiveOption;
constexpr auto Lines = QRegularExpression::MultilineOption;

// Where a returned copy of the message begins: addresses after it are the
// vendor's own message's, never the recipient's (a Message-ID looks like
// an address too).
qsizetype copyStart(const QString& text)
{
    static const Pattern marks(QStringLiteral("^\\s*(-+ ?(This is a copy of|Original message|Below this line is a copy)"
                                              "|--- Below this line|Original message headers:|Received: from |"
                                              "Return-Path: |Message-ID:\\s*<|-----Original Message-----)"),
        Caseless | Lines);
    const QRegularExpressionMatch m = marks.match(text);
    return m.hasMatch() ? m.capturedStart() : text.size();
}

// The recipient, by the places the known shapes put it, best first.
QString recipientOf(const QString& text, const QStringList& notThese)
{
    static const Pattern shapes[] = {
        // qmail, Yahoo, Postfix's text: "<name@domain>:" opening a line
        Pattern(QStringLiteral("^\\s*<([^<>\\s]+@[^<>\\s]+)>\\s*:"), Lines),
        // Exim: the line after "The following address(es) failed:"
        Pattern(QStringLiteral("following address\\(es\\) failed:\\s*\\n\\s*<?([^<>\\s]+@[^<>\\s:]+)"), Caseless),
        // Microsoft 365 and Exchange
        Pattern(QStringLiteral("(?:Delivery has failed to these recipients or groups:|Your message to|couldn't be "
                               "delivered to|could not be delivered to)\\s*(?:<mailto:)?<?([^<>\\s()]+@[^<>\\s()]+?)>?"
                               "[\\s.,()]"),
            Caseless),
        // Google
        Pattern(QStringLiteral("(?:wasn't delivered to|Delivery to the following recipients? failed[^:\\n]*:|"
                               "There was a temporary problem delivering your message to)\\s*<?([^<>\\s]+@[^<>\\s]+?)>?"
                               "[\\s.,]"),
            Caseless),
        // reports written out as text
        Pattern(QStringLiteral("^\\s*(?:Final|Original)-Recipient:\\s*(?:rfc822;)?\\s*<?([^<>\\s]+@[^<>\\s]+?)>?\\s*$"),
            Caseless | Lines),
        // anything else: the first address of the text
        Pattern(QStringLiteral("<?([A-Za-z0-9._%+=-]+@[A-Za-z0-9.-]+\\.[A-Za-z]{2,})>?")),
    };
    const QString head = text.left(copyStart(text));
    for (const Pattern& shape : shapes) {
        QRegularExpressionMatchIterator matches = shape.globalMatch(head);
        while (matches.hasNext()) {
            const QString address = plainAddress(matches.next().captured(1));
            if (!address.isEmpty() && !notThese.contains(address))
                return address;
        }
    }
    return {};
}

bool any(const QString& text, const Pattern& pattern)
{
    return pattern.match(text).hasMatch();
}

} // namespace

bool looksLikeBounce(const QString& fromAddress, const QString& fromName, const QString& subject)
{
    static const Pattern daemon(
        QStringLiteral("^(mailer-daemon|postmaster|mail-daemon|maildaemon|mailerdaemon|bounces?)[@+]"), Caseless);
    static const Pattern daemonName(QStringLiteral("^mail delivery (subsystem|system|service)"), Caseless);
    static const Pattern subjects(
        QStringLiteral("^\\s*(undeliverable|undelivered mail|delivery status notification|mail delivery failed|"
                       "returned mail|failure notice|delivery failure|non-?delivery|message not delivered|"
                       "delivery has failed|mail delivery system|delayed mail|warning: message .* delayed|"
                       "delivery (delayed|incomplete|notification))"),
        Caseless);
    return any(fromAddress, daemon) || any(fromName, daemonName) || any(subject, subjects);
}

TextBounce readBounceText(const QString& subject, const QString& text, const QStringList& notThese)
{
    TextBounce found;
    const QString head = text.left(copyStart(text));
    found.address = recipientOf(text, notThese);
    found.status = findStatusCode(head);
    found.replyCode = findReplyCode(head);
    static const Pattern delay(QStringLiteral("\\b(delayed|delay|will (be )?retry|still trying|not yet been "
                                              "delivered|temporary problem|delivery incomplete)\\b"),
        Caseless);
    static const Pattern permanent(QStringLiteral("permanent(ly)? (error|failure|fatal)|failed permanently|"
                                                  "does not exist|doesn't exist|address not found|user unknown|"
                                                  "no such user|unknown user|mailbox unavailable|"
                                                  "recipient not found|doesn't have a .* account|"
                                                  "account (has been )?disabled|no mailbox here"),
        Caseless);
    found.delayed = any(subject, delay) || (found.status.isEmpty() && found.replyCode.isEmpty() && any(head, delay));
    if (!found.status.isEmpty())
        found.hard = found.status.startsWith(u'5');
    else if (!found.replyCode.isEmpty())
        found.hard = found.replyCode.startsWith(u'5');
    else
        found.hard = any(head, permanent);
    found.hard = found.hard && !found.delayed;
    return found;
}

} // namespace og
