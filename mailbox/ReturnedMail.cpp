#include "mailbox/ReturnedMail.h"

#include "mailbox/BounceText.h"
#include "mailbox/DeliveryStatus.h"

#include <QRegularExpression>

#include <gmime/gmime.h>

#include <memory>
#include <mutex>

namespace og {

namespace {

constexpr qsizetype MaxText = 64 * 1024;

struct Unref {
    void operator()(void* object) const
    {
        if (object)
            g_object_unref(object);
    }
};
template <typename T>
using Owned = std::unique_ptr<T, Unref>;

GMimeMessage* parseMessage(QByteArrayView raw)
{
    static std::once_flag once;
    std::call_once(once, [] { g_mime_init(); });
    Owned<GMimeStream> stream(g_mime_stream_mem_new_with_buffer(raw.data(), size_t(raw.size())));
    Owned<GMimeParser> parser(g_mime_parser_new_with_stream(stream.get()));
    return g_mime_parser_construct_message(parser.get(), nullptr);
}

QString header(GMimeObject* object, const char* name)
{
    const char* value = g_mime_object_get_header(object, name);
    return value ? QString::fromUtf8(value).trimmed().left(1000) : QString();
}

bool isType(GMimeObject* object, const char* type, const char* subtype)
{
    GMimeContentType* content = g_mime_object_get_content_type(object);
    return content && g_mime_content_type_is_type(content, type, subtype);
}

// A part's content, decoded from its transfer encoding.
QByteArray contentOf(GMimeObject* object)
{
    Owned<GMimeStream> memory(g_mime_stream_mem_new());
    if (GMIME_IS_PART(object)) {
        GMimeDataWrapper* content = g_mime_part_get_content(GMIME_PART(object));
        if (!content)
            return {};
        g_mime_data_wrapper_write_to_stream(content, memory.get());
    } else {
        g_mime_object_write_content_to_stream(object, nullptr, memory.get());
    }
    GByteArray* bytes = g_mime_stream_mem_get_byte_array(GMIME_STREAM_MEM(memory.get()));
    return QByteArray(reinterpret_cast<const char*>(bytes->data), qsizetype(bytes->len));
}

QString textOf(GMimeObject* object)
{
    if (!GMIME_IS_TEXT_PART(object))
        return {};
    char* text = g_mime_text_part_get_text(GMIME_TEXT_PART(object));
    const QString out = QString::fromUtf8(text).left(MaxText);
    g_free(text);
    return out;
}

QString messageIdOf(GMimeMessage* message)
{
    const char* id = message ? g_mime_message_get_message_id(message) : nullptr;
    const QString text = id ? QString::fromUtf8(id).trimmed() : QString();
    return text.size() <= 250 && !text.contains(u' ') ? text : QString();
}

// What the parts of a message hold, top to bottom; a returned message's own
// parts are not entered.
struct Parts {
    QByteArray deliveryStatus;
    QString text, html;
    QString returnedMessageId;
};

void visit(GMimeObject*, GMimeObject* part, gpointer data)
{
    Parts& parts = *static_cast<Parts*>(data);
    if (isType(part, "message", "delivery-status") || isType(part, "message", "global-delivery-status")) {
        if (parts.deliveryStatus.isEmpty())
            parts.deliveryStatus = contentOf(part);
    } else if (GMIME_IS_MESSAGE_PART(part)) {
        if (parts.returnedMessageId.isEmpty())
            parts.returnedMessageId = messageIdOf(g_mime_message_part_get_message(GMIME_MESSAGE_PART(part)));
    } else if (isType(part, "text", "rfc822-headers") || isType(part, "message", "rfc822-headers") ||
        isType(part, "message", "global-headers")) {
        if (parts.returnedMessageId.isEmpty()) {
            const QByteArray headers = contentOf(part) + "\n\n";
            Owned<GMimeMessage> returned(parseMessage(headers));
            parts.returnedMessageId = messageIdOf(returned.get());
        }
    } else if (isType(part, "text", "plain") && parts.text.size() < MaxText) {
        parts.text += textOf(part) + u'\n';
    } else if (isType(part, "text", "html") && parts.html.isEmpty()) {
        parts.html = textOf(part);
    }
}

struct Mailbox {
    QString address, name;
};

QList<Mailbox> addresses(GMimeMessage* message, GMimeAddressType type)
{
    QList<Mailbox> out;
    InternetAddressList* list = g_mime_message_get_addresses(message, type);
    const int count = list ? internet_address_list_length(list) : 0;
    for (int i = 0; i < count && i < 100; ++i) {
        InternetAddress* one = internet_address_list_get_address(list, i);
        if (!INTERNET_ADDRESS_IS_MAILBOX(one))
            continue;
        const char* name = internet_address_get_name(one);
        out.append({plainAddress(QString::fromUtf8(internet_address_mailbox_get_addr(INTERNET_ADDRESS_MAILBOX(one)))),
            QString::fromUtf8(name ? name : "")});
    }
    return out;
}

QString withoutTags(QString html)
{
    static const QRegularExpression tags(QStringLiteral("<[^>]*>"));
    return html.replace(tags, QStringLiteral(" "))
        .replace(QStringLiteral("&lt;"), QStringLiteral("<"))
        .replace(QStringLiteral("&gt;"), QStringLiteral(">"))
        .replace(QStringLiteral("&amp;"), QStringLiteral("&"));
}

// What says the message answers itself, or an empty text.
QString autoReplySign(GMimeMessage* message, const QString& subject)
{
    GMimeObject* object = GMIME_OBJECT(message);
    const QString submitted = header(object, "Auto-Submitted").section(u';', 0, 0).trimmed();
    if (!submitted.isEmpty() && submitted.compare(QLatin1String("no"), Qt::CaseInsensitive) != 0)
        return QStringLiteral("Auto-Submitted: ") + submitted;
    for (const char* name : {"X-Autoreply", "X-Autorespond", "X-Autoresponse", "X-Vacation"}) {
        if (g_mime_object_get_header(object, name))
            return QString::fromLatin1(name);
    }
    if (header(object, "Precedence").compare(QLatin1String("auto_reply"), Qt::CaseInsensitive) == 0)
        return QStringLiteral("Precedence: auto_reply");
    static const QRegularExpression subjects(
        QStringLiteral("^\\s*(auto:|automatic reply|auto-?reply|autosvar|out of (the )?office|abwesenheitsnotiz|"
                       "r[ée]ponse automatique|respuesta autom[áa]tica|risposta automatica|automatisch antwoord)|"
                       "\\bvacation\\b"),
        QRegularExpression::CaseInsensitiveOption);
    return subjects.match(subject).hasMatch() ? QStringLiteral("the subject") : QString();
}

// The lines the sender wrote, without the quoted message they answer.
QStringList ownLines(const QString& text)
{
    static const QRegularExpression quoteStart(
        QStringLiteral("^(On .* wrote:|Am .* schrieb .*:|-+ ?Original Message ?-+|From: .*)$"),
        QRegularExpression::CaseInsensitiveOption);
    QStringList lines;
    for (const QString& raw : text.split(u'\n')) {
        const QString line = raw.trimmed();
        if (quoteStart.match(line).hasMatch() || lines.size() >= 40)
            break;
        if (!line.isEmpty() && !line.startsWith(u'>'))
            lines << line;
    }
    return lines;
}

// The request, and whose it is, or an empty text. To the unsubscribe
// address the word anywhere will do; a reply to the vendor must say little
// else (its subject, or the first line it wrote).
QString unsubscriber(
    GMimeMessage* message, const QString& subject, const QString& text, const QString& from, const MailContext& context)
{
    static const QRegularExpression word(
        QStringLiteral("\\bunsubscribe\\b"), QRegularExpression::CaseInsensitiveOption);
    static const QRegularExpression prefixes(
        QStringLiteral("^\\s*((re|aw|fwd?|wg|sv|antw)\\s*:\\s*)+"), QRegularExpression::CaseInsensitiveOption);
    bool toUnsubscribe = false;
    for (const GMimeAddressType type : {GMIME_ADDRESS_TYPE_TO, GMIME_ADDRESS_TYPE_CC}) {
        for (const Mailbox& to : addresses(message, type))
            toUnsubscribe = toUnsubscribe || context.unsubscribeAddresses.contains(to.address);
    }
    for (const char* name : {"Delivered-To", "X-Original-To", "Envelope-To"}) {
        const QString to = plainAddress(header(GMIME_OBJECT(message), name));
        toUnsubscribe = toUnsubscribe || context.unsubscribeAddresses.contains(to);
    }
    const QStringList lines = ownLines(text);
    const QString bareSubject = QString(subject).remove(prefixes).trimmed();
    bool asked = false;
    if (toUnsubscribe)
        asked = word.match(subject).hasMatch() || word.match(lines.join(u' ')).hasMatch();
    else
        asked = (word.match(bareSubject).hasMatch() && bareSubject.size() <= 60) ||
            (!lines.isEmpty() && lines.first().size() <= 60 && word.match(lines.first()).hasMatch());
    if (!asked)
        return {};
    // Naming the address that receives the notifications counts first: a
    // mailto: link may carry it, and a customer may write from another one.
    static const QRegularExpression named(QStringLiteral("[A-Za-z0-9._%+=-]+@[A-Za-z0-9.-]+\\.[A-Za-z]{2,}"));
    QRegularExpressionMatchIterator found = named.globalMatch(subject + u'\n' + lines.mid(0, 5).join(u'\n'));
    while (found.hasNext()) {
        const QString address = plainAddress(found.next().captured(0));
        if (!address.isEmpty() && !context.unsubscribeAddresses.contains(address) &&
            !context.ownAddresses.contains(address))
            return address;
    }
    return context.ownAddresses.contains(from) ? QString() : from;
}

void readReport(const Parts& parts, MailVerdict& verdict, const QStringList& notThese)
{
    for (const RecipientStatus& r : parseDeliveryStatus(parts.deliveryStatus)) {
        const bool failed = r.action == u"failed";
        const bool delayed = r.action == u"delayed";
        // "delivered", "relayed" and "expanded" are good news, not bounces.
        if (!failed && !delayed && !(r.action.isEmpty() && r.status.startsWith(u'5')))
            continue;
        BouncedRecipient b;
        b.address = r.finalRecipient.isEmpty() ? r.originalRecipient : r.finalRecipient;
        if (notThese.contains(b.address))
            continue;
        b.status = r.status.isEmpty() ? findStatusCode(r.diagnostic) : r.status;
        b.replyCode = findReplyCode(r.diagnostic);
        b.delayed = delayed;
        b.hard = !delayed && (b.status.startsWith(u'5') || (b.status.isEmpty() && b.replyCode.startsWith(u'5')));
        verdict.bounced.append(b);
    }
}

} // namespace

MailVerdict judgeMail(QByteArrayView raw, const MailContext& context)
{
    MailVerdict verdict;
    Owned<GMimeMessage> message(parseMessage(raw));
    if (!message)
        return verdict;
    GMimeObject* top = GMIME_OBJECT(message.get());
    verdict.subject = header(top, "Subject").left(200);
    const QList<Mailbox> from = addresses(message.get(), GMIME_ADDRESS_TYPE_FROM);
    const Mailbox sender = from.value(0);
    verdict.address = sender.address;
    if (GDateTime* date = g_mime_message_get_date(message.get()))
        verdict.date =
            QDate(g_date_time_get_year(date), g_date_time_get_month(date), g_date_time_get_day_of_month(date));
    Parts parts;
    g_mime_message_foreach(message.get(), &visit, &parts);
    if (!GMIME_IS_MULTIPART(g_mime_message_get_mime_part(message.get())) && parts.text.isEmpty())
        parts.text = textOf(g_mime_message_get_mime_part(message.get()));
    const QString text = parts.text.trimmed().isEmpty() ? withoutTags(parts.html) : parts.text;
    QStringList notThese = context.ownAddresses + context.unsubscribeAddresses;
    notThese << sender.address;

    const QString returnPath = header(top, "Return-Path");
    if (!parts.deliveryStatus.isEmpty()) {
        verdict.kind = MailKind::Bounce;
        verdict.why = QStringLiteral("delivery report");
        readReport(parts, verdict, notThese);
    } else if (looksLikeBounce(sender.address, sender.name, verdict.subject) || returnPath == u"<>") {
        verdict.kind = MailKind::Bounce;
        verdict.why = QStringLiteral("bounce text");
        const TextBounce t = readBounceText(verdict.subject, text, notThese);
        // A status without a recipient still counts once the Message-ID
        // tells whom the message went to.
        if (!t.address.isEmpty() || t.hard || t.delayed || !t.status.isEmpty() || !t.replyCode.isEmpty())
            verdict.bounced.append({t.address, t.hard, t.delayed, t.status, t.replyCode});
    }
    if (verdict.kind == MailKind::Bounce) {
        verdict.originalMessageId = parts.returnedMessageId;
        if (verdict.originalMessageId.isEmpty()) {
            static const QRegularExpression inText(QStringLiteral("^\\s*Message-ID:\\s*<([^<>\\s]{1,250})>"),
                QRegularExpression::CaseInsensitiveOption | QRegularExpression::MultilineOption);
            verdict.originalMessageId = inText.match(text).captured(1);
        }
        return verdict;
    }
    verdict.why = autoReplySign(message.get(), verdict.subject);
    if (!verdict.why.isEmpty()) {
        verdict.kind = MailKind::AutoReply;
        return verdict;
    }
    const QString whose = unsubscriber(message.get(), verdict.subject, text, sender.address, context);
    if (!whose.isEmpty()) {
        verdict.kind = MailKind::Unsubscribe;
        verdict.address = whose;
        verdict.why = QStringLiteral("asked to unsubscribe");
    }
    return verdict;
}

} // namespace og
