#pragma once
// Memory about to be written, mapped in one call: page by page, each first
// touch is a fault of its own, and on a virtual machine a fault costs more
// than filling the page. Unlike a huge-page hint this never makes the kernel
// compact memory first. Only a hint: a kernel before 5.14 refuses it,
// harmlessly.

#include <cstddef>

namespace og {

void prefaultForWrite(void* data, size_t bytes);

} // namespace og
