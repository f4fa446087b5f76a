#include "mailer/message/MessageHeaders.h"

#include "mail/MailText.h"
#include "mail/MimeText.h"

#include <QRegularExpression>
#include <QUrl>

namespace og {

namespace {

QStringList entries(const QString& addresses)
{
    static const QRegularExpression blanks(QStringLiteral("\\s+"));
    return addresses.split(blanks, Qt::SkipEmptyParts);
}

bool isHttps(const QString& entry)
{
    return entry.startsWith(QLatin1String("https:"), Qt::CaseInsensitive);
}

// RFC 2919's list identifier from the sender's address, as list servers
// make theirs: sales@shop.example is <sales.shop.example>.
std::string listId(const std::string& sender)
{
    std::string id = ExtractAddress(sender);
    for (char& c : id) {
        const bool keep = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.';
        c = c == '@' ? '.' : keep ? c : '-';
    }
    return id.empty() ? std::string() : "<" + id + ">";
}

// What no header value may hold, as a reason; empty when all is well. The
// value is shown with its control characters as \xNN.
QString headerValueProblem(const QString& value, QString* shown)
{
    bool control = false;
    shown->clear();
    for (const QChar c : value) {
        const bool bad = c.unicode() < 0x20 || (c.unicode() >= 0x7f && c.unicode() < 0xa0);
        control = control || bad;
        *shown += bad ? QStringLiteral("\\x%1").arg(int(c.unicode()), 2, 16, QLatin1Char('0')) : QString(c);
    }
    if (control)
        return QStringLiteral("holds a control character");
    if (value.toUtf8().size() > qsizetype(MailLineLimit))
        return QStringLiteral("is longer than %1 bytes").arg(MailLineLimit);
    return {};
}

} // namespace

QString checkMessageHeaders(const MailerSettings& settings)
{
    QString shown;
    if (const QString problem = headerValueProblem(settings.replyTo.trimmed(), &shown); !problem.isEmpty())
        return QStringLiteral("The reply address \"%1\" %2").arg(shown.left(100), problem);
    if (!settings.replyTo.trimmed().isEmpty() && settings.replyTo.indexOf(u'@') < 1)
        return QStringLiteral("The reply address \"%1\" is no mail address").arg(settings.replyTo);
    if (const QString problem = headerValueProblem(settings.unsubscribe.trimmed(), &shown); !problem.isEmpty())
        return QStringLiteral("The unsubscribe address \"%1\" %2").arg(shown.left(100), problem);
    for (const QString& entry : entries(settings.unsubscribe)) {
        // Tolerant: a field to be filled in ("{{...}}") is no URL character yet.
        const QUrl url(entry);
        const bool mailto = entry.startsWith(QLatin1String("mailto:"), Qt::CaseInsensitive);
        const bool reachable = mailto ? url.path().contains(u'@') : isHttps(entry) && !url.host().isEmpty();
        if (!url.isValid() || !reachable)
            return QStringLiteral("The unsubscribe address \"%1\" is no mailto:name@domain or https://host/... address")
                .arg(entry);
    }
    return {};
}

void addMessageHeaders(TWireMessage& message, const MailerSettings& settings)
{
    message.SetReplyTo(settings.replyTo.trimmed().toStdString());
    // RFC 3834: the vacation responders that honour it do not answer.
    if (settings.autoSubmitted)
        message.Headers.SetValue("Auto-Submitted", "auto-generated");
}

void addListUnsubscribe(TWireMessage& message, const QString& addresses)
{
    std::string value;
    bool oneClick = false;
    for (const QString& entry : entries(addresses)) {
        // A header carries ASCII only: anything else in an address is
        // percent-encoded, as a URL may hold it.
        value += (value.empty() ? "<" : ", <") + QUrl(entry).toEncoded().toStdString() + ">";
        oneClick = oneClick || isHttps(entry);
    }
    // Spam filters distrust unsubscribe headers without the list's identifier.
    message.Headers.SetValue("List-Id", value.empty() ? std::string() : listId(message.From()));
    message.Headers.SetValue("List-Unsubscribe", value);
    // RFC 8058: the provider posts this to the https: address itself.
    message.Headers.SetValue("List-Unsubscribe-Post", oneClick ? "List-Unsubscribe=One-Click" : "");
}

} // namespace og
