#pragma once
// A hash of a short byte string for the tables a run builds of a million
// customers: sixteen bytes a step, one wide multiplication each, where
// Qt's byte-array hash (SipHash) costs several times as much for an
// address. The seed is drawn once a process, so that addresses chosen to
// collide cannot be prepared in advance; nothing hashed is ever stored.

#include <QByteArrayView>
#include <cstdint>
#include <cstring>

namespace og {

namespace hashing {

inline uint64_t fold(uint64_t a, uint64_t b)
{
    const unsigned __int128 product = static_cast<unsigned __int128>(a) * b;
    return uint64_t(product) ^ uint64_t(product >> 64);
}

uint64_t processSeed();

} // namespace hashing

inline uint64_t hashBytes(QByteArrayView bytes)
{
    constexpr uint64_t k0 = 0xa0761d6478bd642full, k1 = 0xe7037ed1a0b428dbull, k2 = 0x8ebc6af09c88c6e3ull;
    static const uint64_t seed = hashing::processSeed();
    const uint64_t s = seed ^ k1;
    const char* p = bytes.data();
    auto n = size_t(bytes.size());
    uint64_t h = seed ^ hashing::fold(uint64_t(n) ^ k0, s);
    for (; n > 16; n -= 16, p += 16) {
        uint64_t a, b;
        std::memcpy(&a, p, 8);
        std::memcpy(&b, p + 8, 8);
        h = hashing::fold(a ^ s, b ^ h);
    }
    uint64_t a = 0, b = 0; // the last one to sixteen bytes, zero-padded
    if (n > 8) {
        std::memcpy(&a, p, 8);
        std::memcpy(&b, p + 8, n - 8);
    } else if (n > 0) {
        std::memcpy(&a, p, n);
    }
    h = hashing::fold(a ^ s, b ^ h);
    return hashing::fold(h ^ k2, k0);
}

} // namespace og
