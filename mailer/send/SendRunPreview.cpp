// The send run without sending: the preview of any customer's message
// and the dry run's message files.
#include "mailer/send/SendRun.h"

#include "common/AddressFile.h"
#include "common/ReplacingFile.h"
#include "mail/WireMessage.h"
#include "mailer/message/MessageBuilder.h"
#include "smtp/SMTPWire.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>

#include <algorithm>

namespace og {

namespace {

// Each line with CR LF onto a device; after a refused write it writes no
// more and says so.
class DeviceLineSink : public TLineSink {
public:
    explicit DeviceLineSink(QIODevice& device)
        : device_(device)
    {
    }
    void WriteLine(const std::string& line) override
    {
        ok_ = ok_ && device_.write(line.data(), qint64(line.size())) == qint64(line.size()) &&
            device_.write("\r\n", 2) == 2;
    }
    bool ok() const { return ok_; }

private:
    QIODevice& device_;
    bool ok_ = true;
};

} // namespace

void SendRun::writeDryRunFile(TWireSMTP& smtp, TWireMessage& message, const QString& address)
{
    // Numbered in sending order, named after the recipient.
    QString name = address;
    static const QRegularExpression unsafe(QStringLiteral("[^A-Za-z0-9@._+-]"));
    name.replace(unsafe, QStringLiteral("_"));
    const QString path =
        QDir(dryRunFolder_)
            .filePath(QStringLiteral("%1-%2.eml").arg(++dryRunCount_, 4, 10, QLatin1Char('0')).arg(name));
    // Written as it is made: a large attachment is never held whole.
    ReplacingFile file(path);
    if (!file.open())
        throw SendFailure(writeFailureText(path, file.errorString()));
    DeviceLineSink sink(file.device());
    smtp.WriteAsSent(message, sink);
    if (!sink.ok() || !file.commit())
        throw SendFailure(writeFailureText(path, file.errorString()));
}

QString SendRun::preview(const MailerInput& input, int index, QStringList* addresses, QString* html)
{
    const MailerSettings& s = input.settings;
    signature_ = readSignature(s);
    MessageBuilder messages(input, signature_, false);
    FieldCheck check;
    const QList<AddressRecord> customers = boundCustomers(input, messages, &check);
    if (!check.problems.isEmpty())
        throw SendFailure(check.problems.join(u'\n'));
    if (addresses) {
        addresses->clear();
        for (const AddressRecord& customer : customers)
            *addresses << customer.address;
    }
    // With no customer in the file, the sender's copy is the first message.
    const AddressRecord* customer =
        customers.isEmpty() ? nullptr : &customers[std::clamp(index, 0, int(customers.size()) - 1)];
    TWireMessage message = customer ? messages.build(*customer) : messages.copyTo(s.sender);
    TWireSMTP smtp;
    // The headers exactly as they go out; the text as it goes out; the
    // attachments by name and size rather than as their encoded lines.
    TLineList headers;
    try {
        smtp.PrepareAsSent(message);
        message.WriteHeaders(headers);
    } catch (const std::exception& error) {
        throw SendFailure(QString::fromUtf8(error.what()));
    }
    QStringList lines;
    for (const std::string& line : headers.Lines)
        lines << QString::fromStdString(line);
    for (const std::string& line : message.Text)
        lines << QString::fromStdString(line);
    lines << QString() << QStringLiteral("Attachments:");
    for (const TAttachment& attachment : message.Attachments) {
        const QString path = QString::fromStdString(attachment.FileName);
        const QString name = QString::fromStdString(attachment.StoredName);
        if (!input.attachments.isEmpty() && !QFileInfo(path).isFile()) {
            lines << QStringLiteral("  %1 (missing: %2)").arg(name, QDir::toNativeSeparators(path));
            continue;
        }
        const qint64 size = !input.attachments.isEmpty() ? QFileInfo(path).size()
            : customer                                   ? messages.messageFileBytes(*customer).size()
                                                         : MessageBuilder::messageFileBytes(messages.body()).size();
        lines << QStringLiteral("  %1 (%2 bytes)").arg(name).arg(size);
    }
    if (html)
        *html = QString::fromStdString(message.HtmlText);
    return lines.join(u'\n');
}

} // namespace og
