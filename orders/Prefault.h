#pragma once
// Memory about to be written, mapped in one call: page by page, each first
// touch is a fault of its own, and on a virtual machine a fault costs more
// than filling the page. Only a hint: a kernel before 5.14 refuses it,
// harmlessly.

#include <cstddef>
#include <string_view>

namespace og {

// Asks for the huge pages the range holds whole (preferHugePages), then maps
// it.
void prefaultForWrite(void* data, size_t bytes);

// Asks for a big block in huge pages, mapped as it is touched: a huge page
// is one fault where small ones are 512, and on a virtual machine each page
// a program touches first costs it several times the copy into it. Asked
// only while the kernel can meet it from memory it has free, so that the
// hint never makes a fault wait for memory to be compacted (the kernel's
// default for a hinted block): when its settings never compact at a fault,
// or when the free blocks of a huge page's size or more come to a gigabyte.
void preferHugePages(void* data, size_t bytes);

// Room for n elements in v, in huge pages where preferHugePages gives them.
template <typename Vector>
void reserveHuge(Vector& v, size_t n)
{
    v.reserve(n);
    preferHugePages(v.data(), v.capacity() * sizeof(typename Vector::value_type));
}

// The bytes /proc/buddyinfo's text shows free in blocks of at least
// 2^order pages of pageSize bytes.
size_t freeBytesInBlocks(std::string_view buddyInfo, unsigned order, size_t pageSize);

} // namespace og
