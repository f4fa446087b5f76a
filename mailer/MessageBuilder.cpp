#include "mailer/MessageBuilder.h"

#include "common/ReplacingFile.h"
#include "mailer/AttachmentType.h"
#include "mailer/MarkdownBody.h"
#include "mailer/MessageHeaders.h"
#include "mailer/SendRun.h"

namespace og {

namespace {

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
    : body_(input.body)
{
    body_.append(signature);
    const MailerSettings& settings = input.settings;
    configureMessage(common_);
    common_.SetFrom(utf8(settings.sender));
    common_.SetOrganization(utf8(settings.organisation));
    common_.SetSubject(utf8(input.subject));
    for (const QString& line : body_.lines())
        common_.Text.push_back(utf8(line));
    // The HTML is rendered from the text as typed, not from the lines the
    // field wrapped it into; the signature stays plain text. Fields, once filled in per customer, go into the
    // Markdown escaped (escapeMarkdown) before it is rendered.
    if (settings.format == MessageFormat::Markdown)
        common_.HtmlText =
            utf8(markdownToHtml(input.body.typedText() + QStringLiteral("\n\n") + plainTextAsMarkdown(signature)));
    addMessageHeaders(common_, settings);
    unsubscribe_ = settings.unsubscribe;

    // The types are judged by content once a run, message.txt's once written.
    if (!input.attachments.isEmpty()) {
        for (const QString& path : input.attachments)
            common_.Attachments.AddAttachment(utf8(path)).ContentType = attachmentType(path);
        return;
    }
    const QString path = input.programFolder + QLatin1String(MessageFileName);
    if (writeMessageFile) {
        const QByteArray bytes = messageFileBytes(body_);
        ReplacingFile file(path);
        if (!file.open() || file.device().write(bytes) != bytes.size() || !file.commit())
            throw SendFailure(writeFailureText(path, file.errorString()));
    }
    common_.Attachments.AddAttachment(utf8(path)).ContentType = attachmentType(path);
}

TWireMessage MessageBuilder::build(const AddressRecord& customer) const
{
    TWireMessage message = common_;
    message.Too = {utf8(customer.address)};
    // The customer's own fields in the addresses are filled in here.
    addListUnsubscribe(message, unsubscribe_);
    return message;
}

QByteArray MessageBuilder::messageFileBytes(const MessageBody& body)
{
    QString text = body.typedText();
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    text.replace(QStringLiteral("\n"), QStringLiteral("\r\n"));
    return text.toUtf8();
}

} // namespace og
