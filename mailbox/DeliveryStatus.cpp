#include "mailbox/DeliveryStatus.h"

#include <QRegularExpression>

#include <algorithm>

namespace og {

namespace {

// A field group's fields, unfolded: name (lower case) and value.
struct Field {
    QString name;
    QString value;
};

QList<QList<Field>> fieldGroups(QByteArrayView body)
{
    const QString text = QString::fromUtf8(body.first(std::min(body.size(), qsizetype(1) << 20)));
    QList<QList<Field>> groups(1);
    for (QStringView line : QStringView(text).split(u'\n')) {
        if (line.endsWith(u'\r'))
            line.chop(1);
        if (line.trimmed().isEmpty()) {
            if (!groups.last().isEmpty())
                groups.append(QList<Field>());
            continue;
        }
        if ((line.front() == u' ' || line.front() == u'\t')) {
            if (!groups.last().isEmpty() && groups.last().last().value.size() < 4096)
                groups.last().last().value += u' ' + line.trimmed().toString();
            continue;
        }
        const qsizetype colon = line.indexOf(u':');
        if (colon <= 0)
            continue;
        groups.last().append(
            {line.left(colon).trimmed().toString().toLower(), line.mid(colon + 1).trimmed().toString()});
    }
    return groups;
}

// "rfc822; name@domain" (or "utf-8; ...") without its type.
QString withoutType(const QString& value)
{
    const qsizetype semicolon = value.indexOf(u';');
    return (semicolon < 0 ? value : value.mid(semicolon + 1)).trimmed();
}

} // namespace

QList<RecipientStatus> parseDeliveryStatus(QByteArrayView body)
{
    QList<RecipientStatus> recipients;
    const QList<QList<Field>> groups = fieldGroups(body);
    // The first group is about the report (Reporting-MTA and the like).
    for (qsizetype g = 1; g < groups.size(); ++g) {
        RecipientStatus r;
        for (const Field& f : groups[g]) {
            if (f.name == u"final-recipient")
                r.finalRecipient = plainAddress(withoutType(f.value));
            else if (f.name == u"original-recipient")
                r.originalRecipient = plainAddress(withoutType(f.value));
            else if (f.name == u"action")
                r.action = f.value.section(u' ', 0, 0).toLower();
            else if (f.name == u"status")
                r.status = leadingStatusCode(f.value);
            else if (f.name == u"diagnostic-code")
                r.diagnostic = withoutType(f.value).left(300);
        }
        if (!r.finalRecipient.isEmpty() || !r.originalRecipient.isEmpty())
            recipients.append(r);
    }
    return recipients;
}

QString leadingStatusCode(QStringView text)
{
    static const QRegularExpression code(QStringLiteral("^\\s*([245]\\.\\d{1,3}\\.\\d{1,3})(?!\\d)"));
    return code.match(text.toString()).captured(1);
}

QString findStatusCode(QStringView text)
{
    static const QRegularExpression code(QStringLiteral("(?<![\\d.])([245]\\.\\d{1,3}\\.\\d{1,3})(?![\\d.]\\d)"));
    return code.match(text.toString()).captured(1);
}

QString findReplyCode(QStringView text)
{
    static const QRegularExpression code(QStringLiteral("(?<![\\w.:\\[#-])([45][0-5]\\d)(?![\\w.\\]])"));
    return code.match(text.toString()).captured(1);
}

QString plainAddress(QStringView text)
{
    QString address = text.trimmed().toString();
    if (address.startsWith(u'<') && address.endsWith(u'>'))
        address = address.mid(1, address.size() - 2).trimmed();
    if (address.size() > 254 || address.count(u'@') != 1)
        return {};
    const qsizetype at = address.indexOf(u'@');
    if (at == 0 || at == address.size() - 1 || !address.mid(at + 1).contains(u'.'))
        return {};
    for (const QChar c : std::as_const(address)) {
        if (c.unicode() <= 0x20 || c == u'\x7f' || c == u'<' || c == u'>' || c == u'"' || c == u',' || c == u';' ||
            c == u'(' || c == u')' || c == u'[' || c == u']' || c == u'\\' || !c.isPrint())
            return {};
    }
    return address.toLower();
}

} // namespace og
