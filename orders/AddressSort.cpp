#include "orders/AddressSort.h"

#include "orders/ByteWords.h"
#include "orders/Prefault.h"

#include <QString>
#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <thread>

namespace og {

namespace {

using Key = AddressOrder::Key;

inline unsigned char foldAscii(unsigned char c)
{
    return (c >= 'A' && c <= 'Z') ? c + 32 : c;
}

constexpr uint32_t kKeyBytes = 16;

inline uint64_t high(const Key& key)
{
    return uint64_t(key.word[0]) << 32 | key.word[1];
}
inline uint64_t low(const Key& key)
{
    return uint64_t(key.word[2]) << 32 | key.word[3];
}

unsigned char keyByte(const Key& key, uint32_t at)
{
    return static_cast<unsigned char>(key.word[at / 4] >> (24 - 8 * (at % 4)));
}

// Eight bytes of the key from eight of the line, the first the highest:
// each byte of a word at once. Those from the first stop on are zero;
// stopped tells whether there was one.
inline uint64_t keyWord(const unsigned char* bytes, bool& stopped)
{
    using words::kLow7;
    constexpr uint64_t kHigh = words::kTop;
    uint64_t w = words::load(reinterpret_cast<const char*>(bytes));
    if constexpr (std::endian::native == std::endian::little)
        w = __builtin_bswap64(w);
    // a stop: zero (its low seven bits are, and its high bit is not set) or
    // beyond ASCII (its high bit); no carry crosses a byte
    const uint64_t stops = (~(((w & kLow7) + kLow7) | w) | w) & kHigh;
    stopped = stops != 0;
    if (stopped) {
        const int before = std::countl_zero(stops) / 8;
        w = before == 0 ? 0 : w & (~uint64_t(0) << (64 - 8 * before));
    }
    // every byte is ASCII now: 'A' to 'Z' gain 0x20
    const uint64_t atLeastA = (w + 0x3f3f3f3f3f3f3f3fu) & kHigh;
    const uint64_t pastZ = (w + 0x2525252525252525u) & kHigh;
    return w | ((atLeastA & ~pastZ) >> 2);
}

Key keyOf(QByteArrayView line, uint32_t index)
{
    unsigned char shortLine[kKeyBytes] = {}; // its end stops the key
    const auto* bytes = reinterpret_cast<const unsigned char*>(line.data());
    if (line.size() < qsizetype(kKeyBytes)) {
        if (!line.isEmpty())
            std::memcpy(shortLine, line.data(), size_t(line.size()));
        bytes = shortLine;
    }
    bool stopped = false;
    const uint64_t first = keyWord(bytes, stopped);
    const uint64_t second = stopped ? 0 : keyWord(bytes + 8, stopped);
    return {{uint32_t(first >> 32), uint32_t(first), uint32_t(second >> 32), uint32_t(second)}, index};
}

// The first byte where two keys differ, or kKeyBytes.
uint32_t firstDifference(const Key& x, const Key& y)
{
    if (const uint64_t a = high(x), b = high(y); a != b)
        return uint32_t(std::countl_zero(a ^ b)) / 8;
    if (const uint64_t a = low(x), b = low(y); a != b)
        return 8 + uint32_t(std::countl_zero(a ^ b)) / 8;
    return kKeyBytes;
}

// The keys are grouped by their first two bytes, and only the keys of one
// group are compared with each other: a few hundred at a time, in cache,
// where one sort of a million keys took twenty rounds through memory. The
// order of the groups is the order of their lines. A key that stops within
// two bytes (a short line, or one that leaves ASCII at once) has no such
// place: those share a last group, sorted apart and merged in, since only
// the full comparison knows where they go.
constexpr uint32_t kPlacedGroups = 128 * 128;
constexpr uint32_t kUnplaced = kPlacedGroups;

inline uint32_t groupOf(const Key& key)
{
    const uint32_t first = key.word[0] >> 24, second = (key.word[0] >> 16) & 0xff;
    return second == 0 ? kUnplaced : first << 7 | second;
}

// groupOf(keyOf(line)), from the two bytes it needs
inline uint32_t groupOfLine(QByteArrayView line)
{
    if (line.size() < 2)
        return kUnplaced;
    const auto first = static_cast<unsigned char>(line[0]), second = static_cast<unsigned char>(line[1]);
    if (first == 0 || first >= 0x80 || second == 0 || second >= 0x80)
        return kUnplaced;
    return uint32_t(foldAscii(first)) << 7 | foldAscii(second);
}

// What the keys leave open: the lines from where the keys stop being sure.
// Apart from the sort's inner loop, where it would only slow the common case.
[[gnu::noinline]] bool beforeByLines(const LineBlock& lines, const Key& x, const Key& y)
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

struct Before {
    const LineBlock& lines;
    bool operator()(const Key& x, const Key& y) const
    {
        uint64_t a = high(x), b = high(y);
        if (a == b)
            a = low(x), b = low(y);
        if (a != b) {
            // the two bytes at the first difference decide, unless either
            // key stopped there
            const int shift = (63 - std::countl_zero(a ^ b)) & ~7;
            if (((a >> shift) & 0xff) != 0 && ((b >> shift) & 0xff) != 0)
                return a < b;
        }
        return beforeByLines(lines, x, y);
    }
};

// Orders keys that share their first `depth` bytes: by their next byte,
// a count and a move into place, then each part the same way one byte on
// (a byte decides the order of keys whose bytes before it are the same,
// unless a key stopped there). Small parts, keys equal as far as they go,
// and parts with a key that stopped are left to the comparison.
void sortFrom(Key* first, Key* last, uint32_t depth, const Before& before)
{
    constexpr ptrdiff_t kCompareBelow = 48;
    for (;;) {
        if (last - first < kCompareBelow || depth == kKeyBytes) {
            std::sort(first, last, before);
            return;
        }
        std::array<uint32_t, 129> start {};
        for (const Key* k = first; k != last; ++k)
            ++start[keyByte(*k, depth) + 1];
        if (start[1] != 0) { // a key stopped here
            std::sort(first, last, before);
            return;
        }
        if (std::find(start.begin(), start.end(), uint32_t(last - first)) != start.end()) {
            ++depth; // one byte for all: nothing to move
            continue;
        }
        for (size_t b = 1; b < start.size(); ++b)
            start[b] += start[b - 1];
        std::array<uint32_t, 128> next;
        std::copy(start.begin(), start.end() - 1, next.begin());
        for (uint32_t b = 0; b < 128; ++b) {
            while (next[b] < start[b + 1]) {
                Key key = first[next[b]];
                for (uint32_t to = keyByte(key, depth); to != b; to = keyByte(key, depth))
                    std::swap(key, first[next[to]++]);
                first[next[b]++] = key;
            }
        }
        for (uint32_t b = 1; b < 128; ++b)
            if (start[b + 1] - start[b] > 1)
                sortFrom(first + start[b], first + start[b + 1], depth + 1, before);
        return;
    }
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
    return AddressOrder().take(lines);
}

void AddressOrder::keep(const LineBlock& lines)
{
    if (groupSize_.empty())
        groupSize_.assign(kPlacedGroups + 1, 0);
    for (; counted_ < lines.size(); ++counted_)
        ++groupSize_[groupOfLine(lines.bytesAt(counted_))];
}

std::vector<uint32_t> AddressOrder::take(const LineBlock& lines)
{
    keep(lines);
    const auto n = uint32_t(lines.size());
    std::vector<uint32_t> start(kPlacedGroups + 2, 0);
    for (uint32_t g = 0; g <= kPlacedGroups; ++g)
        start[g + 1] = start[g] + groupSize_[g];
    // Each key is made straight into its group's place; the memory is left
    // unfilled till then.
    const std::unique_ptr<Key[]> keyStore(new Key[n]);
    Key* const keys = keyStore.get();
    prefaultForWrite(keys, size_t(n) * sizeof(Key));
    {
        std::vector<uint32_t> next(start.begin(), start.end() - 1);
        for (uint32_t i = 0; i < n; ++i) {
            const Key key = keyOf(lines.bytesAt(i), i);
            const uint32_t g = groupOf(key);
            if (next[g] == start[g + 1]) // the counts are not of these lines
                throw std::logic_error("address sort: lines changed after they were counted");
            keys[next[g]++] = key;
        }
    }

    const Before before {lines};
    const auto sortGroups = [&](uint32_t from, uint32_t to) {
        for (uint32_t g = from; g < to; ++g)
            if (start[g + 1] - start[g] > 1)
                sortFrom(keys + start[g], keys + start[g + 1], g == kUnplaced ? kKeyBytes : 2, before);
    };
    // A long list is sorted on two cores, each taking the groups that hold
    // about half the lines (one group of most of them goes to one core).
    constexpr uint32_t kParallelFrom = 200000;
    const uint32_t placed = start[kUnplaced];
    if (n >= kParallelFrom && std::thread::hardware_concurrency() > 1) {
        const auto half =
            uint32_t(std::upper_bound(start.begin(), start.begin() + kUnplaced, placed / 2) - start.begin()) - 1;
        std::thread first([&] { sortGroups(0, half); });
        sortGroups(half, kUnplaced + 1);
        first.join();
    } else {
        sortGroups(0, kUnplaced + 1);
    }

    std::vector<uint32_t> order;
    order.reserve(n);
    prefaultForWrite(order.data(), order.capacity() * sizeof(uint32_t));
    const Key* const middle = keys + placed;
    const Key* const end = keys + n;
    const Key *a = keys, *b = middle;
    while (a != middle && b != end)
        order.push_back(before(*b, *a) ? (b++)->index : (a++)->index);
    for (; a != middle; ++a)
        order.push_back(a->index);
    for (; b != end; ++b)
        order.push_back(b->index);
    groupSize_ = {};
    counted_ = 0;
    return order;
}

} // namespace og
