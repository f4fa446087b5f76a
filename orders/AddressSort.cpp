#include "orders/ScriptRun.h"

#include "orders/Prefault.h"


#include <algorithm>
#include <bit>
#include <cstdint>
#include <memory>
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

// The place of a line among the keys by its first two bytes, folded: the
// order of the places is the order of the lines that have one.
constexpr uint32_t kBuckets = 128 * 128;
constexpr uint32_t kNoBucket = ~uint32_t(0);

inline uint32_t bucketOf(QByteArrayView line)
{
    if (line.size() < 2)
        return kNoBucket;
    const auto c0 = static_cast<unsigned char>(line[0]), c1 = static_cast<unsigned char>(line[1]);
    if (c0 == 0 || c1 == 0 || ((c0 | c1) & 0x80))
        return kNoBucket;
    return uint32_t(foldAscii(c0)) << 7 | foldAscii(c1);
}

// What the keys leave open: the lines from where the keys stop being sure.
// Apart from the sort's inner loop, where it would only slow the common case.
[[gnu::noinline]] bool beforeByLines(const LineBlock& lines, const SortKey& x, const SortKey& y)
{
    uint32_t same = firstDifference(x, y);
    while (same > 0 && keyByte(x, same - 1) == 0)
        --same;
    // The first `same` bytes are ASCII in both and equal ignoring case.
    const int c = compareIgnoringCase(lines.bytesAt(x.index).sliced(same), lines.bytesAt(y.index).sliced(same));
    if (c != 0)
        return c < 0;
    return x.index < y.index; // equal lines keep their order
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
    // The keys are laid out by their first two bytes (a counting pass, then
    // each key written straight to its place), so that the comparison sort
    // only orders the lines that share them: a few hundred at a time, in
    // cache, where one sort of a million keys took twenty rounds through
    // memory. A key with fewer than two bytes (a short line, or one that
    // leaves ASCII at once) has no such place: those are sorted apart and
    // merged in, since only the full comparison knows where they go.
    const auto n = uint32_t(lines.size());
    std::vector<uint32_t> start(kBuckets + 1, 0);
    uint32_t unplaced = 0;
    for (uint32_t i = 0; i < n; ++i) {
        const QByteArrayView line = lines.bytesAt(i);
        if (const uint32_t b = bucketOf(line); b != kNoBucket)
            ++start[b + 1];
        else
            ++unplaced;
    }
    for (uint32_t b = 0; b < kBuckets; ++b)
        start[b + 1] += start[b];
    const uint32_t placed = start[kBuckets];
    // left unfilled: every key is written once, at its place
    const std::unique_ptr<SortKey[]> keyStore(new SortKey[n]);
    SortKey* const keys = keyStore.get();
    prefaultForWrite(keys, size_t(n) * sizeof(SortKey));
    {
        std::vector<uint32_t> next(start.begin(), start.end() - 1);
        uint32_t rest = placed;
        for (uint32_t i = 0; i < n; ++i) {
            const QByteArrayView line = lines.bytesAt(i);
            const uint32_t b = bucketOf(line);
            keys[b != kNoBucket ? next[b]++ : rest++] = keyOf(line, i);
        }
    }

    const auto before = [&lines](const SortKey& x, const SortKey& y) {
        uint64_t a = x.high(), b = y.high();
        if (a == b)
            a = x.low(), b = y.low();
        if (a != b) {
            // the two bytes at the first difference decide, unless either
            // key stopped there
            const int shift = (63 - std::countl_zero(a ^ b)) & ~7;
            if (((a >> shift) & 0xff) != 0 && ((b >> shift) & 0xff) != 0)
                return a < b;
        }
        return beforeByLines(lines, x, y);
    };
    const auto sortBuckets = [&](uint32_t from, uint32_t to) {
        for (uint32_t b = from; b < to; ++b)
            if (start[b + 1] - start[b] > 1)
                std::sort(keys + start[b], keys + start[b + 1], before);
    };
    // A long list is sorted on two cores, each taking the buckets that hold
    // about half the lines; the unplaced keys go with the second.
    constexpr uint32_t kParallelFrom = 200000;
    if (n >= kParallelFrom && std::thread::hardware_concurrency() > 1) {
        const uint32_t half = uint32_t(std::upper_bound(start.begin(), start.end(), placed / 2) - start.begin()) - 1;
        std::thread first([&] { sortBuckets(0, half); });
        sortBuckets(half, kBuckets);
        std::sort(keys + placed, keys + n, before);
        first.join();
    } else {
        sortBuckets(0, kBuckets);
        std::sort(keys + placed, keys + n, before);
    }

    std::vector<uint32_t> order;
    order.reserve(n);
    prefaultForWrite(order.data(), order.capacity() * sizeof(uint32_t));
    const SortKey* const middle = keys + placed;
    const SortKey* const end = keys + n;
    const SortKey *a = keys, *b = middle;
    while (a != middle && b != end)
        order.push_back(before(*b, *a) ? (b++)->index : (a++)->index);
    for (; a != middle; ++a)
        order.push_back(a->index);
    for (; b != end; ++b)
        order.push_back(b->index);
    return order;
}

} // namespace og
