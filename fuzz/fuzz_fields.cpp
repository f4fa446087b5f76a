// Message fields from any bytes: an address file (its header row, its
// records) and a text with fields, bound and filled for every customer. A
// text without "{{" fills to itself; a filled text never keeps a field that
// was bound, and a transform is applied to values only. A comma-separated
// line that reads, quoted field by field again, reads the same.

#include <cstddef>
#include <cstdint>
#include <string>

#include <QString>
#include <fuzzer/FuzzedDataProvider.h>

#include "common/AddressFile.h"
#include "common/TextFiles.h"
#include "fuzz/FuzzCheck.h"
#include "mailer/message/MessageFields.h"

namespace {

QString Text(FuzzedDataProvider& in, bool last = false)
{
    const std::string bytes = last ? in.ConsumeRemainingBytesAsString() : in.ConsumeRandomLengthString(4000);
    return og::decodeText(QByteArrayView(bytes.data(), qsizetype(bytes.size())));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzedDataProvider in(data, size);
    const QStringList lines = Text(in).split(u'\n');
    const uint8_t recorded = in.ConsumeIntegral<uint8_t>();
    og::FieldText text(Text(in, true));

    const std::optional<og::AddressColumns> columns = recorded & 8
        ? std::optional<og::AddressColumns>(og::AddressColumns(recorded & 1, recorded & 2, recorded & 4))
        : std::nullopt;
    const og::AddressFields fields(QStringLiteral("email_Fuzz.txt"), og::addressHeader(lines), columns);
    QStringList unknown;
    text.bind(fields, &unknown);
    OG_FUZZ_CHECK(text.hasFields() || unknown.isEmpty());
    // What the comma reader takes from a line, quoted again, reads the same.
    QString why;
    if (const std::optional<QStringList> split = og::splitCommaLine(lines.first(), &why)) {
        QStringList quoted;
        for (const QString& field : *split)
            quoted << u'"' + QString(field).replace(u'"', QStringLiteral("\"\"")) + u'"';
        OG_FUZZ_CHECK(og::splitCommaLine(quoted.join(u','), &why) == split);
    }
    for (const og::AddressRecord& customer : og::addressRecords(lines)) {
        OG_FUZZ_CHECK(!customer.address.isEmpty() && customer.line >= 1 && customer.line <= lines.size());
        const QString filled = text.fill(customer);
        if (!text.text().contains(QStringLiteral("{{")))
            OG_FUZZ_CHECK(filled == text.text());
        const QString marked = text.fill(customer, [](const QString&) { return QStringLiteral("\x01"); });
        OG_FUZZ_CHECK(text.hasFields() || marked == filled);
        text.lacking(customer);
    }
    return 0;
}
