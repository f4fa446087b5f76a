#include "orders/ScriptRun.h"

#include "orders/Prefault.h"


#include <algorithm>
#include <bit>
#include <cstdint>
#include <thread>
#include <vector>

namespace og {

namespace {

inline unsigned char foldAscii(unsigned char c)
{
    return (c >= 'A' && c <= 'Z') ? c + 32 : c;
}

// The first up to sixteen bytes of a line, ASCII-folded and packed so that
// comparing the numbers compares the bytes. valid counts the leading bytes
// that are ASCII; a byte beyond ASCII or the end of the line stops it. Most
// comparisons are settled by these numbers without touching the lines.
struct SortKey {
    uint64_t high;
    uint64_t low;
    uint32_t index;
    uint32_t valid;
};

SortKey keyOf(QByteArrayView line, uint32_t index)
{
    uint64_t part[2] = {0, 0};
    uint32_t valid = 0;
    const qsizetype n = std::min<qsizetype>(16, line.size());
    for (; valid < n; ++valid) {
        const unsigned char c = static_cast<unsigned char>(line[valid]);
        if (c >= 0x80)
            break;
        part[valid / 8] |= uint64_t(foldAscii(c)) << (56 - 8 * (valid % 8));
    }
    return {part[0], part[1], index, valid};
}

} // namespace

int compareIgnoringCase(QByteArrayView a, QByteArrayView b)
{
    const qsizetype n = std::min(a.size(), b.size());
    for (qsizetype i = 0; i < n; ++i) {
        const unsigned char ca = static_cast<unsigned char>(a[i]);
        const unsigned char cb = static_cast<unsigned char>(b[i]);
        if ((ca | cb) & 0x80) {
            // Both texts agree up to here and i starts a character in each:
            // the full Unicode comparison decides the rest.
            return QString::compare(
                QString::fromUtf8(a.sliced(i)), QString::fromUtf8(b.sliced(i)), Qt::CaseInsensitive);
        }
        const int fa = foldAscii(ca), fb = foldAscii(cb);
        if (fa != fb)
            return fa - fb;
    }
    return a.size() < b.size() ? -1 : (a.size() > b.size() ? 1 : 0);
}

LineBlock sortedIgnoringCase(LineBlock lines)
{
    std::vector<uint32_t> order = orderIgnoringCase(lines);
    lines.reorder(std::move(order));
    return lines;
}

std::vector<uint32_t> orderIgnoringCase(const LineBlock& lines)
{
    std::vector<SortKey> keys;
    keys.reserve(size_t(lines.size()));
    prefaultForWrite(keys.data(), keys.capacity() * sizeof(SortKey));
    for (qsizetype i = 0; i < lines.size(); ++i)
        keys.push_back(keyOf(lines.bytesAt(i), uint32_t(i)));

    const auto before = [&lines](const SortKey& x, const SortKey& y) {
        const uint32_t valid = std::min(x.valid, y.valid);
        if (x.high != y.high) {
            const uint32_t at = uint32_t(std::countl_zero(x.high ^ y.high)) / 8;
            if (at < valid)
                return x.high < y.high;
        } else if (x.low != y.low) {
            const uint32_t at = 8 + uint32_t(std::countl_zero(x.low ^ y.low)) / 8;
            if (at < valid)
                return x.low < y.low;
        }
        // The first `valid` bytes are ASCII in both and equal ignoring case.
        const int c = compareIgnoringCase(lines.bytesAt(x.index).sliced(valid), lines.bytesAt(y.index).sliced(valid));
        if (c != 0)
            return c < 0;
        return x.index < y.index; // equal lines keep their order
    };
    // A long list is sorted in two halves at once, then merged; the order is
    // total (ties go by position), so the result is the same either way.
    std::vector<uint32_t> order;
    order.reserve(keys.size());
    prefaultForWrite(order.data(), order.capacity() * sizeof(uint32_t));
    constexpr size_t kParallelFrom = 200000;
    if (keys.size() >= kParallelFrom && std::thread::hardware_concurrency() > 1) {
        const auto middle = keys.begin() + std::ptrdiff_t(keys.size() / 2);
        std::thread firstHalf([&] { std::sort(keys.begin(), middle, before); });
        std::sort(middle, keys.end(), before);
        firstHalf.join();
        auto a = keys.begin(), b = middle;
        while (a != middle && b != keys.end())
            order.push_back(before(*b, *a) ? (b++)->index : (a++)->index);
        for (; a != middle; ++a)
            order.push_back(a->index);
        for (; b != keys.end(); ++b)
            order.push_back(b->index);
    } else {
        std::sort(keys.begin(), keys.end(), before);
        for (const SortKey& k : keys)
            order.push_back(k.index);
    }
    return order;
}

} // namespace og
