#include "orders/BytesHash.h"

#include <random>

namespace og::hashing {

uint64_t processSeed()
{
    std::random_device device;
    return uint64_t(device()) << 32 ^ device();
}

} // namespace og::hashing
