#include "mailer/message/MessageBuilder.h"

#include "common/ReplacingFile.h"
#include "mail/EncodeWire.h"
#include "mail/MimeText.h"
#include "mailer/SendFailure.h"
#include "mailer/message/AttachmentType.h"
#include "mailer/message/MarkdownBody.h"
#include "mailer/message/MessageHeaders.h"

#include <QFileInfo>
#include <QUrl>

namespace og {

namespace {

// A shared attachment up to this size is held encoded for the whole run (its
// Base64 lines take about 2.2 times its size); a larger one is read and
// encoded for each message, as it goes out.
constexpr qint64 EncodeOnceLimit = qint64(64) << 20;

std::string utf8(const QString& text)
{
    return text.toStdString();
}

} // namespace

void configureMessage(TWireMessage& message)
{
    message.ExtractAttachments = false;
    message.MsgNo = 0;
    message.ContentType = "text/plain";
    message.NoDecode = true;
}

MessageBuilder::MessageBuilder(const MailerInput& input, const QStringList& signature, bool writeMessageFile)
    : body_(input.body),
      subject_(input.subject)
{
    body_.append(signature);
    const MailerSettings& settings = input.settings;
    configureMessage(common_);
    common_.SetFrom(utf8(settings.sender));
    common_.SetOrganization(utf8(settings.organisation));
    common_.SetSubject(utf8(input.subject));
    const QStringList& shown = body_.lines();
    for (qsizetype i = 0; i < shown.size(); ++i) {
        FieldText line(shown[i]);
        // A field that the body field's wrapping cut in two goes out on one line.
        for (QString joined = shown[i]; !line.syntaxProblem().isEmpty() && body_.wraps(i) && i + 1 < shown.size();)
            line = FieldText(joined += shown[++i]);
        common_.Text.push_back(utf8(line.text()));
        personal_ = personal_ || line.hasFields() || !line.syntaxProblem().isEmpty();
        lines_ << std::move(line);
    }
    personal_ = personal_ || subject_.hasFields() || !subject_.syntaxProblem().isEmpty();
    typedText_ = FieldText(body_.typedText());
    markdownBody_ = FieldText(input.body.typedText());
    signature_ = FieldText(signature.join(u'\n'));
    markdown_ = settings.format == MessageFormat::Markdown;
    addMessageHeaders(common_, settings);
    unsubscribe_ = FieldText(settings.unsubscribe);
    personal_ = personal_ || unsubscribe_.hasFields() || !unsubscribe_.syntaxProblem().isEmpty();
    // As typed: the sender's copy keeps them so, and a customer's message
    // fills them only where they have fields.
    common_.HtmlText = utf8(htmlText(markdownBody_.text(), signature));
    addListUnsubscribe(common_, settings.unsubscribe);

    // The types are judged by content once a run, message.txt's once
    // written; a file shared by every message is encoded once a run (when
    // sending: a preview reads no file).
    attachmentRules_ = {QFileInfo(settings.addressFile).absolutePath(), settings.attachAbsolute};
    if (!input.attachments.isEmpty()) {
        for (const QString& path : input.attachments) {
            attachments_ << FieldText(path);
            if (attachments_.last().hasFields() || !attachments_.last().syntaxProblem().isEmpty()) {
                personal_ = true;
                shared_.emplace_back();
                continue;
            }
            std::shared_ptr<std::string> encoded;
            if (writeMessageFile && QFileInfo(path).size() <= EncodeOnceLimit) {
                encoded = std::make_shared<std::string>();
                encoded->reserve(size_t(QFileInfo(path).size() / 45 * 61 + 64));
                try {
                    TWireEncoder().EncodeFile(encoded.get(), utf8(path));
                } catch (const std::exception& error) {
                    throw SendFailure(QString::fromUtf8(error.what()));
                }
            }
            attachShared(path, std::move(encoded));
        }
        return;
    }
    messageFile_ = true;
    const QString path = input.programFolder + QLatin1String(MessageFileName);
    std::shared_ptr<std::string> encoded;
    if (writeMessageFile) {
        const QByteArray bytes = messageFileBytes(body_);
        ReplacingFile file(path);
        if (!file.open() || file.device().write(bytes) != bytes.size() || !file.commit())
            throw SendFailure(writeFailureText(path, file.errorString()));
        encoded = std::make_shared<std::string>(
            TWireEncoder::EncodeText(std::string_view(bytes.constData(), size_t(bytes.size()))));
    }
    attachShared(path, std::move(encoded));
}

void MessageBuilder::attachShared(const QString& path, std::shared_ptr<const std::string> encoded)
{
    TAttachment& attachment = common_.Attachments.AddAttachment(utf8(path));
    attachment.ContentType = attachmentType(path);
    attachment.Encoded = std::move(encoded);
    shared_.push_back(attachment);
}

QList<FieldText*> MessageBuilder::texts()
{
    QList<FieldText*> texts {&subject_, &unsubscribe_};
    for (FieldText& line : lines_)
        texts << &line;
    for (FieldText& path : attachments_)
        texts << &path;
    return texts;
}

QStringList MessageBuilder::bindFields(const AddressFields& fields, const QList<AddressRecord>& customers)
{
    if (!personal_)
        return {};
    QStringList unknown;
    // The same names as the lines'
    typedText_.bind(fields, &unknown);
    markdownBody_.bind(fields, &unknown);
    signature_.bind(fields, &unknown);
    return checkFields(texts(), fields, customers, fields.addressFile());
}

QStringList MessageBuilder::missingAttachments(const AddressRecord& customer) const
{
    QStringList missing;
    for (const FieldText& path : attachments_)
        if (path.hasFields())
            if (const ResolvedAttachment file = resolveAttachment(path, customer, attachmentRules_);
                file.refusal.isEmpty() && !QFileInfo(file.path).isFile())
                missing << file.path;
    return missing;
}

bool MessageBuilder::subjectCut(const AddressRecord& customer) const
{
    bool cut = false;
    UnstructuredText(utf8(subject_.fill(customer)), &cut);
    return cut;
}

QString MessageBuilder::refusedAttachment(const AddressRecord& customer) const
{
    for (const FieldText& path : attachments_)
        if (path.hasFields())
            if (const ResolvedAttachment file = resolveAttachment(path, customer, attachmentRules_);
                !file.refusal.isEmpty())
                return file.refusal;
    return {};
}

TWireMessage MessageBuilder::build(const AddressRecord& customer) const
{
    TWireMessage message = common_;
    message.Too = {utf8(customer.address)};
    if (!personal_)
        return message;
    message.SetSubject(utf8(subject_.fill(customer)));
    message.Text.clear();
    for (const FieldText& line : lines_)
        message.Text.push_back(utf8(line.fill(customer)));
    // Values go into the Markdown escaped, so that a name of "*Anna*" or
    // "<b>" reads as typed; into a URL percent-encoded.
    if (markdown_ && (markdownBody_.hasFields() || signature_.hasFields()))
        message.HtmlText =
            utf8(htmlText(markdownBody_.fill(customer, escapeMarkdown), signature_.fill(customer).split(u'\n')));
    if (unsubscribe_.hasFields())
        addListUnsubscribe(message, unsubscribe_.fill(customer, [](const QString& value) {
            return QString::fromLatin1(QUrl::toPercentEncoding(value));
        }));
    message.Attachments.Clear();
    for (size_t i = 0; i < shared_.size(); ++i) {
        if (!shared_[i].FileName.empty()) {
            message.Attachments.AddAttachment(shared_[i].FileName) = shared_[i];
            continue;
        }
        const ResolvedAttachment file = resolveAttachment(attachments_[qsizetype(i)], customer, attachmentRules_);
        if (!file.refusal.isEmpty())
            throw SendFailure(file.refusal); // the checks leave such a customer out before
        const QString& path = file.path;
        message.Attachments.AddAttachment(utf8(path)).ContentType = attachmentType(path);
    }
    if (messageFile_ && typedText_.hasFields()) {
        const QByteArray bytes = messageFileBytes(customer);
        message.Attachments[0].Encoded = std::make_shared<std::string>(
            TWireEncoder::EncodeText(std::string_view(bytes.constData(), size_t(bytes.size()))));
    }
    return message;
}

QString MessageBuilder::htmlText(const QString& markdown, const QStringList& signature) const
{
    // The HTML is rendered from the text as typed, not from the lines the
    // body field wrapped it into; the signature stays plain text.
    return markdown_ ? markdownWithSignatureToHtml(markdown, signature) : QString();
}

QString MessageBuilder::bodyText(const AddressRecord& customer, const FieldTransform& transform) const
{
    return typedText_.fill(customer, transform);
}

TWireMessage MessageBuilder::copyTo(const QString& sender) const
{
    TWireMessage message = common_;
    message.Too = {utf8(sender)};
    return message;
}

QByteArray MessageBuilder::messageFileBytes(const MessageBody& body)
{
    return crlfText(body.typedText());
}

QByteArray MessageBuilder::messageFileBytes(const AddressRecord& customer) const
{
    return typedText_.hasFields() ? crlfText(typedText_.fill(customer)) : messageFileBytes(body_);
}

QByteArray MessageBuilder::crlfText(QString text)
{
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    text.replace(QStringLiteral("\n"), QStringLiteral("\r\n"));
    return text.toUtf8();
}

} // namespace og
