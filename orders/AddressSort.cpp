#include "orders/ScriptRun.h"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <vector>

namespace og {

namespace {

inline unsigned char foldAscii(unsigned char c)
{
    return (c >= 'A' && c <= 'Z') ? c + 32 : c;
}

// The first up to eight bytes of a line, ASCII-folded, packed so that
// comparing the numbers compares the bytes; valid counts the bytes that are
// ASCII before anything else (or the end) stops the packing.
struct SortKey {
    uint64_t prefix;
    uint32_t valid;
    uint32_t index;
};

SortKey keyOf(QByteArrayView line, uint32_t index)
{
    uint64_t prefix = 0;
    uint32_t valid = 0;
    const qsizetype n = std::min<qsizetype>(8, line.size());
    for (; valid < n; ++valid) {
        const unsigned char c = static_cast<unsigned char>(line[valid]);
        if (c >= 0x80)
            break;
        prefix |= uint64_t(foldAscii(c)) << (56 - 8 * valid);
    }
    return {prefix, valid, index};
}

}  // namespace

int compareIgnoringCase(QByteArrayView a, QByteArrayView b)
{
    const qsizetype n = std::min(a.size(), b.size());
    for (qsizetype i = 0; i < n; ++i) {
        const unsigned char ca = static_cast<unsigned char>(a[i]);
        const unsigned char cb = static_cast<unsigned char>(b[i]);
        if ((ca | cb) & 0x80) {
            // Both texts agree up to here and i starts a character in each:
            // let the full Unicode comparison decide the rest.
            return QString::compare(QString::fromUtf8(a.sliced(i)), QString::fromUtf8(b.sliced(i)),
                                    Qt::CaseInsensitive);
        }
        const int fa = foldAscii(ca), fb = foldAscii(cb);
        if (fa != fb)
            return fa - fb;
    }
    return a.size() < b.size() ? -1 : (a.size() > b.size() ? 1 : 0);
}

LineBlock sortedIgnoringCase(const LineBlock& lines)
{
    std::vector<SortKey> keys;
    keys.reserve(size_t(lines.size()));
    for (qsizetype i = 0; i < lines.size(); ++i)
        keys.push_back(keyOf(lines.bytesAt(i), uint32_t(i)));

    std::sort(keys.begin(), keys.end(), [&lines](const SortKey& x, const SortKey& y) {
        if (x.prefix != y.prefix) {
            const uint32_t differs = uint32_t(std::countl_zero(x.prefix ^ y.prefix)) / 8;
            if (differs < x.valid && differs < y.valid)
                return x.prefix < y.prefix;
        }
        const int c = compareIgnoringCase(lines.bytesAt(x.index), lines.bytesAt(y.index));
        if (c != 0)
            return c < 0;
        return x.index < y.index;  // equal lines keep their order
    });

    LineBlock out;
    out.reserve(lines.size(), lines.fileBytes().size());
    for (const SortKey& k : keys)
        out.append(lines.bytesAt(k.index));
    return out;
}

}  // namespace og
