#pragma once
// The message of a send run for each of its customers: what the vendor typed
// (sender, organisation, subject, the body with its signature, attachments
// or message.txt) is the same for all, and each customer's message is made
// from their record of the address file. A field of the record that goes
// into the message (a name in the greeting, an order number in the subject,
// a file of their own) is filled in by build().

#include "common/AddressFile.h"
#include "mail/WireMessage.h"
#include "mailer/MailerInput.h"
#include "mailer/message/AttachmentPath.h"
#include "mailer/message/MessageFields.h"

#include <QByteArray>
#include <QStringList>

namespace og {

// What every message object of the program has (the data module's too): a
// plain-text body, nothing decoded or extracted.
void configureMessage(TWireMessage& message);

class MessageBuilder {
public:
    // Without attachments the body, as typed, is saved under this name in
    // the program folder and attached to every message.
    static constexpr const char* MessageFileName = "message.txt";

    // The run's input with the signature prepare() read. writeMessageFile:
    // without attachments, message.txt is written first, and sent only once
    // it is on disk whole (a full disk must not send an empty or cut
    // attachment); throws SendFailure when it cannot be.
    MessageBuilder(const MailerInput& input, const QStringList& signature, bool writeMessageFile);

    // The body as it goes out and is logged: the lines typed, the signature.
    const MessageBody& body() const { return body_; }

    // The message to this customer alone.
    TWireMessage build(const AddressRecord& customer) const;
    // The sender's copy: the texts as typed, fields unfilled, and no
    // attachment of a customer's own.
    TWireMessage copyTo(const QString& sender) const;

    // Whether any text (subject, body, signature, attachment path) has fields.
    bool personal() const { return personal_; }
    // Binds the fields to the address file's columns and checks them against
    // every customer (see checkFields); build() needs this when personal().
    QStringList bindFields(const AddressFields& fields, const QList<AddressRecord>& customers);
    // The typed text with this customer's values, each passed through
    // transform when one is given (escaped for a text that is not plain).
    QString bodyText(const AddressRecord& customer, const FieldTransform& transform = {}) const;
    // The customer's own attachment files that are not there.
    QStringList missingAttachments(const AddressRecord& customer) const;
    // Whether this customer's subject is longer than a header line may be,
    // and is cut (mail/MimeText.h, UnstructuredText).
    bool subjectCut(const AddressRecord& customer) const;
    // Why the customer may have none of their own attachment files (a field
    // that would pick a file outside its folder); empty when they may.
    QString refusedAttachment(const AddressRecord& customer) const;

    // The typed text as message.txt holds it: CR LF line ends, UTF-8.
    static QByteArray messageFileBytes(const MessageBody& body);
    // message.txt as this customer's message holds it.
    QByteArray messageFileBytes(const AddressRecord& customer) const;

private:
    static QByteArray crlfText(QString text);
    QList<FieldText*> texts();
    // The HTML part of a Markdown body (empty for plain text).
    QString htmlText(const QString& markdown, const QStringList& signature) const;
    void attachShared(const QString& path, std::shared_ptr<const std::string> encoded);

    MessageBody body_;
    TWireMessage common_; // what every customer's message has
    bool personal_ = false;
    bool markdown_ = false;
    FieldText subject_, typedText_, signature_;
    FieldText markdownBody_; // the typed text without the signature, for the HTML
    FieldText unsubscribe_;  // the unsubscribe addresses, with fields
    QList<FieldText> lines_, attachments_;
    AttachmentRules attachmentRules_;
    bool messageFile_ = false;        // message.txt is the attachment
    std::vector<TAttachment> shared_; // by attachment, those without fields
};

} // namespace og
