#pragma once
// Eight bytes of text a step: tests on a 64-bit word that mark each byte
// that passes by its top bit, exactly (no carry runs from one byte into the
// next). The header-row intake reads every byte of a row several ways and
// the compiler does not vectorise those loops at the build's optimisation.

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace og::words {

// Bit positions map to bytes in text order only on little-endian machines;
// elsewhere callers take their byte-by-byte path.
inline constexpr bool kUsable = std::endian::native == std::endian::little;

inline uint64_t load(const char* at)
{
    uint64_t word;
    std::memcpy(&word, at, sizeof word);
    return word;
}

inline constexpr uint64_t kOnes = 0x0101010101010101ULL;
inline constexpr uint64_t kLow7 = 0x7f7f7f7f7f7f7f7fULL;
inline constexpr uint64_t kTop = 0x8080808080808080ULL;

// The bytes equal to c.
inline uint64_t equal(uint64_t word, char c)
{
    const uint64_t t = word ^ (kOnes * static_cast<unsigned char>(c));
    return ~(((t & kLow7) + kLow7) | t | kLow7);
}

// The control characters: bytes below 32 but tab, and 127. Each test stays
// inside its byte: the top bit is tested apart and the sums stay below 256.
inline uint64_t control(uint64_t word)
{
    const uint64_t low = word & kLow7;
    const uint64_t tabless = low ^ (kOnes * '\t'); // tab to 0; below 32 stays below 32
    const uint64_t oneTo31 = (tabless + kLow7) & ~(tabless + kOnes * 0x60);
    const uint64_t del = low + kOnes; // only 127 carries into the top bit
    return (oneTo31 | del) & ~word & kTop;
}

// The ASCII capital letters A to Z. Adding the marks shifted down by two
// (0x20 a byte) makes them small letters, and carries into no other byte.
inline uint64_t capital(uint64_t word)
{
    const uint64_t low = word & kLow7;
    const uint64_t fromA = low + kOnes * (0x80 - 'A');     // top bit: at least 'A'
    const uint64_t pastZ = low + kOnes * (0x80 - 'Z' - 1); // top bit: past 'Z'
    return fromA & ~pastZ & ~word & kTop;
}

// Whether test marks any byte of size bytes at data: a word at a time, the
// last few bytes by byteTest, which must mark the same bytes.
template <typename WordTest, typename ByteTest>
inline bool anyByte(const char* data, size_t size, WordTest wordTest, ByteTest byteTest)
{
    size_t i = 0;
    if constexpr (kUsable) {
        uint64_t marks = 0;
        for (; i + 8 <= size; i += 8)
            marks |= wordTest(load(data + i));
        if (marks)
            return true;
    }
    bool found = false;
    for (; i < size; ++i)
        found |= byteTest(static_cast<unsigned char>(data[i]));
    return found;
}

// How many bytes are marked: a multiply sums the marks into the top byte
// (no popcount instruction is assumed).
inline int count(uint64_t marks)
{
    return int(((marks >> 7) * kOnes) >> 56);
}

// The byte a marked bit stands for, from the word's first byte.
inline int byteOf(uint64_t marks)
{
    return std::countr_zero(marks) / 8;
}
inline int lastByteOf(uint64_t marks)
{
    return (63 - std::countl_zero(marks)) / 8;
}

} // namespace og::words
