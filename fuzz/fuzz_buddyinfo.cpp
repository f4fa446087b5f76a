// The kernel's free-block table (/proc/buddyinfo) from any bytes: the free
// memory counted in blocks of an order or more never grows with the order,
// so a text the reader misjudges cannot make a huge-page hint look cheaper
// for bigger pages.

#include <cstddef>
#include <cstdint>
#include <string>

#include <fuzzer/FuzzedDataProvider.h>

#include "fuzz/FuzzCheck.h"
#include "orders/Prefault.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzedDataProvider in(data, size);
    const unsigned order = in.ConsumeIntegralInRange<unsigned>(0, 12);
    const std::string text = in.ConsumeRemainingBytesAsString();
    const size_t from = og::freeBytesInBlocks(text, order, 4096);
    const size_t above = og::freeBytesInBlocks(text, order + 1, 4096);
    OG_FUZZ_CHECK(above <= from);
    return 0;
}
