#pragma once
// Memory about to be written, mapped in one call: page by page, each first
// touch is a fault of its own, and on a virtual machine a fault costs more
// than filling the page. Only a hint: a kernel before 5.14 refuses it,
// harmlessly.

#include <cstddef>
#include <cstdint>
#include <new>
#include <string>
#include <string_view>
#include <vector>

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

// A block of a megabyte or more mapped on its own and aligned to huge pages,
// when preferHugePages gives them: a block of the C library's shares its
// first and last huge page with other blocks, so a table of two or three
// megabytes held none whole and faulted in 512 small pages for each. Its
// last huge page is whole when the block fills at least half of it, and in
// small pages otherwise. Null when the block is smaller or huge pages are
// not at hand: the caller then takes the C library's. Throws std::bad_alloc
// when the system has no room.
void* allocateHuge(size_t bytes);
// Gives back a block allocateHuge returned for the same bytes.
void freeHuge(void* data, size_t bytes);
// Whether allocateHuge maps a block of bytes alone.
bool mapsAlone(size_t bytes);

// For the run's big tables: allocateHuge where it gives a block, otherwise
// std::allocator. Blocks are never shared between the two, since whether a
// size is mapped alone is settled once a process.
template <typename T>
struct HugeAllocator {
    using value_type = T;
    HugeAllocator() = default;
    template <typename U>
    HugeAllocator(const HugeAllocator<U>&) noexcept
    {
    }
    T* allocate(size_t n)
    {
        if (n > SIZE_MAX / sizeof(T))
            throw std::bad_array_new_length();
        if (void* block = allocateHuge(n * sizeof(T)))
            return static_cast<T*>(block);
        return std::allocator<T>().allocate(n);
    }
    void deallocate(T* p, size_t n) noexcept
    {
        if (mapsAlone(n * sizeof(T)))
            freeHuge(p, n * sizeof(T));
        else
            std::allocator<T>().deallocate(p, n);
    }
    template <typename U>
    bool operator==(const HugeAllocator<U>&) const noexcept
    {
        return true;
    }
};

template <typename T>
using HugeVector = std::vector<T, HugeAllocator<T>>;
using HugeString = std::basic_string<char, std::char_traits<char>, HugeAllocator<char>>;

// The bytes /proc/buddyinfo's text shows free in blocks of at least
// 2^order pages of pageSize bytes.
size_t freeBytesInBlocks(std::string_view buddyInfo, unsigned order, size_t pageSize);

} // namespace og
