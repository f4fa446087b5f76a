#include "orders/Prefault.h"

#include <cstdint>
#include <sys/mman.h>
#include <unistd.h>

namespace og {

void prefaultForWrite(void* data, size_t bytes)
{
#if defined(MADV_POPULATE_WRITE)
    static const uintptr_t page = uintptr_t(::sysconf(_SC_PAGESIZE));
    // whole pages of the range only: a page past its end may not be mapped
    const uintptr_t begin = reinterpret_cast<uintptr_t>(data) & ~(page - 1);
    const uintptr_t end = (reinterpret_cast<uintptr_t>(data) + bytes) & ~(page - 1);
    if (bytes >= 16 * page && end > begin)
        ::madvise(reinterpret_cast<void*>(begin), end - begin, MADV_POPULATE_WRITE);
#else
    (void)data;
    (void)bytes;
#endif
}

} // namespace og
