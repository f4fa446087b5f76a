#include "orders/HeapBounds.h"

#if __has_include(<malloc.h>)
#include <malloc.h>
#endif

namespace og {

void mapBigBlocksAlone()
{
#if defined(__GLIBC__) && defined(M_MMAP_THRESHOLD)
    // setting the bound also keeps glibc from moving it
    ::mallopt(M_MMAP_THRESHOLD, 4 * 1024 * 1024);
#endif
}

} // namespace og
