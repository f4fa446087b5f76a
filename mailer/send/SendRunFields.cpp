// The send run's fields: the checks before anything goes, for the window,
// the command line and send() itself.
#include "mailer/send/SendRun.h"

#include "common/AddressFile.h"
#include "mail/MimeText.h"
#include "mailer/message/MessageBuilder.h"

#include <QDir>
#include <QFileInfo>

namespace og {

QList<AddressRecord> SendRun::boundCustomers(const MailerInput& input, MessageBuilder& messages, FieldCheck* check)
{
    const QString& file = input.settings.addressFile;
    const QStringList lines = readTextFileLines(file);
    QList<AddressRecord> customers = addressRecords(lines);
    // A line the reader cannot make sense of is named, never guessed at.
    QStringList unreadable;
    for (const auto& [line, why] : unreadableAddressLines(lines))
        unreadable << QStringLiteral("Line %1 of %2 cannot be read: %3 (write a field with a comma or a quote "
                                     "as \"Smith, Julia\", a quote inside it as \"\")")
                          .arg(line)
                          .arg(QDir::toNativeSeparators(file), why);
    if (check)
        check->problems = unreadable;
    if (!messages.personal() || (check && !unreadable.isEmpty()))
        return customers;
    const AddressFields fields(file, addressHeader(lines), recordedAddressColumns(input.settingsPath, file));
    const QStringList problems = messages.bindFields(fields, customers);
    if (!check)
        return customers;
    check->problems = problems;
    if (!problems.isEmpty())
        return customers;
    for (const AddressRecord& customer : std::as_const(customers)) {
        if (messages.subjectCut(customer))
            check->notes << QStringLiteral("line %1, %2: the subject is longer than %3 bytes and is cut there")
                                .arg(customer.line)
                                .arg(customer.address)
                                .arg(MailLineLimit);
        if (const QString refusal = messages.refusedAttachment(customer); !refusal.isEmpty()) {
            check->refused << QStringLiteral("line %1, %2: %3").arg(customer.line).arg(customer.address, refusal);
            check->refusedAddresses << customer.address;
            continue;
        }
        for (const QString& path : messages.missingAttachments(customer)) {
            check->missing << QStringLiteral("line %1, %2: %3").arg(customer.line).arg(customer.address, path);
            if (!check->missingAddresses.contains(customer.address))
                check->missingAddresses << customer.address;
        }
    }
    return customers;
}

QString SendRun::FieldCheck::refusal(const QStringList& skipped) const
{
    if (!problems.isEmpty())
        return problems.join(u'\n');
    for (const QString& address : missingAddresses)
        if (!skipped.contains(address))
            return QStringLiteral("Nothing was sent: these customers' own attachment files are missing:\n") +
                missing.join(u'\n');
    return {};
}

SendRun::FieldCheck SendRun::checkFields(const MailerInput& input)
{
    FieldCheck check;
    MessageBuilder messages(input, readSignature(input.settings), false);
    boundCustomers(input, messages, &check);
    return check;
}

} // namespace og
