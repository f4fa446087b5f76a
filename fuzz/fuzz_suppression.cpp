// The suppression lists (unsubscribed.txt, bounced.txt) and Paddle's
// adjustments report from any bytes: every entry read is found again in any
// letter case, a line written from an entry reads back as that entry, and
// the adjustments reader takes back only orders its rows name.

#include <cstddef>
#include <cstdint>
#include <string>

#include <QString>
#include <fuzzer/FuzzedDataProvider.h>

#include "common/SuppressionList.h"
#include "common/TextFiles.h"
#include "fuzz/FuzzCheck.h"
#include "orders/AdjustmentsReport.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzedDataProvider in(data, size);
    const std::string listBytes = in.ConsumeRandomLengthString(8000);
    const QString text = og::decodeText(QByteArrayView(listBytes.data(), qsizetype(listBytes.size())));
    const og::SuppressionList list = og::SuppressionList::fromText(text);
    for (const og::SuppressionList::Entry& entry : list.entries()) {
        OG_FUZZ_CHECK(entry.address.contains(u'@'));
        OG_FUZZ_CHECK(list.contains(entry.address.toUpper()) || list.contains(entry.address));
        const og::SuppressionList again = og::SuppressionList::fromText(og::SuppressionList::line(entry));
        OG_FUZZ_CHECK(again.size() == 1);
        OG_FUZZ_CHECK(again.entries().front().address == entry.address);
        OG_FUZZ_CHECK(again.entries().front().date == entry.date);
    }

    const std::string report = in.ConsumeRemainingBytesAsString();
    const QByteArray bytes(report.data(), qsizetype(report.size()));
    QString problem;
    if (const auto adjustments = og::readAdjustments(bytes, &problem)) {
        OG_FUZZ_CHECK(adjustments->takenBack.size() <= adjustments->rows);
        // The report is read as UTF-8 (other bytes decoded) and its fields
        // unquoted: each piece of an id between quotes stands in that text.
        const QByteArray text = og::toValidUtf8(bytes);
        for (auto it = adjustments->takenBack.cbegin(); it != adjustments->takenBack.cend(); ++it) {
            OG_FUZZ_CHECK(!it.key().isEmpty());
            for (const QByteArray& piece : it.key().split('"'))
                OG_FUZZ_CHECK(text.contains(piece));
        }
    } else {
        OG_FUZZ_CHECK(!problem.isEmpty());
    }
    return 0;
}
