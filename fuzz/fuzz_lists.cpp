// The three customer lists (bozos.txt, Address.txt, goodguys.txt) from any
// bytes, and the questions a run asks of them: every entry read is found
// again, whatever the case of its letters a-z.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include <QString>
#include <fuzzer/FuzzedDataProvider.h>

#include "common/TextFiles.h"
#include "fuzz/FuzzCheck.h"
#include "orders/CustomerLists.h"

namespace {


QString Text(FuzzedDataProvider& in, bool last = false)
{
    const std::string bytes = last ? in.ConsumeRemainingBytesAsString() : in.ConsumeRandomLengthString(4000);
    return og::decodeText(QByteArrayView(bytes.data(), qsizetype(bytes.size())));
}

QByteArray UpperAscii(QByteArrayView bytes)
{
    QByteArray out(bytes.data(), bytes.size());
    for (char& c : out)
        if (c >= 'a' && c <= 'z')
            c = char(c - 'a' + 'A');
    return out;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzedDataProvider in(data, size);
    const QString blocked = Text(in), changed = Text(in), admitted = Text(in, true);
    og::CustomerLists lists;
    lists.loadTexts(blocked, changed, admitted);

    const og::LineBlock& bozos = lists.blocked();
    for (qsizetype i = 0; i < bozos.size(); ++i) {
        if (bozos.bytesAt(i).isEmpty())
            continue;
        OG_FUZZ_CHECK(lists.isBlockedUtf8(bozos.bytesAt(i)));
        OG_FUZZ_CHECK(lists.isBlockedUtf8(UpperAscii(bozos.bytesAt(i))));
    }
    const og::LineBlock& old = lists.oldAddresses();
    OG_FUZZ_CHECK(lists.newAddresses().size() == old.size());
    for (qsizetype i = 0; i < old.size(); ++i) {
        if (old.bytesAt(i).isEmpty())
            continue;
        const qsizetype first = lists.updateIndexUtf8(UpperAscii(old.bytesAt(i)));
        OG_FUZZ_CHECK(first >= 0 && first <= i);
        // (QString::fromUtf8 takes a leading U+FEFF for a byte order mark.)
        bool updated = false;
        if (old.at(i).toUtf8() == old.bytesAt(i))
            OG_FUZZ_CHECK(lists.updatedAddress(old.at(i), &updated) == lists.newAddresses().at(first) && updated);
    }
    const auto none = [](const QString&) { return false; };
    OG_FUZZ_CHECK(lists.extraCustomers(u"All", none).size() == lists.admitted().size());
    for (qsizetype i = 0; i < lists.admitted().size(); ++i)
        lists.extraCustomers(lists.admittedProducts().at(i), none);
    return 0;
}
