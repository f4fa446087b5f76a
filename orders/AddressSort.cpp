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
// comparing the numbers compares the bytes; a byte beyond ASCII, a zero byte
// or the end of the line stops them, leaving zeros. Most comparisons are
// settled by these numbers without touching the lines (addresses share
// their first dozen bytes often enough that fewer cost twice the time).
// Twenty bytes a line, kept in 32-bit words: a million lines are sorted
// beside the ledger's compare, and share its memory.
struct SortKey {
    uint32_t word[4]; // bytes 0 to 15, the first the highest
    uint32_t index;
    uint64_t high() const { return uint64_t(word[0]) << 32 | word[1]; }
    uint64_t low() const { return uint64_t(word[2]) << 32 | word[3]; }
};
constexpr uint32_t kKeyBytes = 16;

unsigned char keyByte(const SortKey& key, uint32_t at)
{
    return static_cast<unsigned char>(key.word[at / 4] >> (24 - 8 * (at % 4)));
}

SortKey keyOf(QByteArrayView line, uint32_t index)
{
    SortKey key {{0, 0, 0, 0}, index};
    const qsizetype n = std::min<qsizetype>(kKeyBytes, line.size());
    for (qsizetype i = 0; i < n; ++i) {
        const unsigned char c = static_cast<unsigned char>(line[i]);
        if (c >= 0x80 || c == 0)
            break;
        key.word[i / 4] |= uint32_t(foldAscii(c)) << (24 - 8 * (i % 4));
    }
    return key;
}

// The first byte where two keys differ, or kKeyBytes.
uint32_t firstDifference(const SortKey& x, const SortKey& y)
{
    if (const uint64_t a = x.high(), b = y.high(); a != b)
        return uint32_t(std::countl_zero(a ^ b)) / 8;
    if (const uint64_t a = x.low(), b = y.low(); a != b)
        return 8 + uint32_t(std::countl_zero(a ^ b)) / 8;
    return kKeyBytes;
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
        uint32_t same = firstDifference(x, y);
        if (same < kKeyBytes) {
            const unsigned char a = keyByte(x, same), b = keyByte(y, same);
            if (a && b)
                return a < b;
        } else {
            while (same > 0 && keyByte(x, same - 1) == 0)
                --same;
        }
        // The first `same` bytes are ASCII in both and equal ignoring case.
        const int c = compareIgnoringCase(lines.bytesAt(x.index).sliced(same), lines.bytesAt(y.index).sliced(same));
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
