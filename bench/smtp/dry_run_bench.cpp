// The dry run's work per message without its files: each customer's message
// built from the address file and written as it would go out, into a sink
// that only counts. Run by bench/smtp/run-fields with and without fields.
//
//   bench_dry_run FOLDER CUSTOMERS ATTACHMENT fields|plain
//
// Prints CPU seconds per message (user + system) and the peak resident size
// after a tenth of the customers and at the end.
#include "common/AddressFile.h"
#include "mailer/message/MessageBuilder.h"
#include "smtp/SMTPWire.h"

#include <QCoreApplication>
#include <QFile>

#include <cstdio>
#include <sys/resource.h>

using namespace og;

namespace {

class CountingSink : public TLineSink {
public:
    void WriteLine(const std::string& line) override { bytes += line.size() + 2; }
    long long bytes = 0;
};

double cpuSeconds(long* maxRssKb)
{
    rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    *maxRssKb = usage.ru_maxrss;
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
        double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    if (argc != 5)
        return 2;
    const QString folder = QString::fromLocal8Bit(argv[1]) + u'/';
    const int count = atoi(argv[2]);
    const bool fields = QByteArrayView(argv[4]) == "fields";

    MailerInput input;
    input.settings.addressFile = folder + "email_Tool.txt";
    input.settings.sender = "vendor@example.com";
    input.settingsPath = folder + "ordergate.ini";
    input.programFolder = folder;
    input.attachments << QString::fromLocal8Bit(argv[3]);
    QByteArray lines;
    for (int i = 0; i < count; ++i)
        lines +=
            QStringLiteral("c%1@example.com , %2 , Jan-01-2026 , Name%1 Surname\r\n").arg(i).arg(5000 + i).toUtf8();
    QFile file(input.settings.addressFile);
    if (!file.open(QIODevice::WriteOnly) || file.write(lines) != lines.size())
        return 1;
    file.close();
    recordAddressColumns(input.settingsPath, input.settings.addressFile, AddressColumns(true, true, true));
    input.subject = fields ? "Your order {{order}}, {{name|customer}}" : "Your order";
    QStringList body;
    for (int i = 0; i < 20; ++i)
        body << (fields ? "Dear {{name}}, your password is your order number {{order}} of {{date}}."
                        : "Dear customer, your password is your order number, sent before.");
    input.body = MessageBody(body);

    long startRss = 0, tenthRss = 0, endRss = 0;
    const double start = cpuSeconds(&startRss);
    MessageBuilder messages(input, {}, true);
    const QStringList fileLines = QString::fromUtf8(lines).split("\r\n", Qt::SkipEmptyParts);
    const QList<AddressRecord> customers = addressRecords(fileLines);
    const AddressFields names(input.settings.addressFile, {}, AddressColumns(true, true, true));
    if (!messages.bindFields(names, customers).isEmpty())
        return 1;
    TWireSMTP smtp;
    CountingSink sink;
    for (int i = 0; i < customers.size(); ++i) {
        TWireMessage message = messages.build(customers[i]);
        smtp.WriteAsSent(message, sink);
        if (i == customers.size() / 10)
            cpuSeconds(&tenthRss);
    }
    const double cpu = cpuSeconds(&endRss) - start;
    std::printf("%s: %d messages, %.1f MB written, %.3f ms CPU per message, peak RSS %ld MB after a tenth, %ld MB "
                "at the end\n",
        fields ? "fields" : "plain ", count, double(sink.bytes) / 1e6, cpu * 1000 / count, tenthRss / 1024,
        endRss / 1024);
    return 0;
}
