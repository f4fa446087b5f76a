#pragma once
// Large buffers of a run are filled once, front to back. Asking the kernel
// for huge pages on them trades hundreds of thousands of page faults for a
// few hundred. Only a hint: nothing changes where it is not supported.

#include <cstddef>

namespace og {

void adviseHugePages(void* data, size_t bytes);

} // namespace og
