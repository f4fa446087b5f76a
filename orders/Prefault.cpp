#include "orders/Prefault.h"

#include <bit>
#include <charconv>
#include <cstdint>
#include <fcntl.h>
#include <string>
#include <sys/mman.h>
#include <unistd.h>

namespace og {

namespace {

// Free memory in huge-page blocks that no run comes near.
constexpr size_t kPlentyFree = size_t(1) << 30;

// A file of the kernel's (/proc, /sys). Not readRegularFile: that asks for
// huge pages itself, and would come back here while the answer is settled.
std::string readSmallFile(const char* path)
{
    std::string text;
    const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return text;
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n <= 0 || text.size() > 65536)
            break;
        text.append(buffer, size_t(n));
    }
    ::close(fd);
    return text;
}

size_t hugePageSize()
{
    const std::string text = readSmallFile("/sys/kernel/mm/transparent_hugepage/hpage_pmd_size");
    size_t size = 0;
    std::from_chars(text.data(), text.data() + text.size(), size);
    return std::has_single_bit(size) ? size : 0;
}

// The huge-page size when a hint is met without compaction, else 0. Settled
// once a process: a run is over in seconds.
size_t decideHugePages()
{
    const std::string enabled = readSmallFile("/sys/kernel/mm/transparent_hugepage/enabled");
    if (enabled.find("[always]") == std::string::npos && enabled.find("[madvise]") == std::string::npos)
        return 0;
    const size_t huge = hugePageSize();
    const auto page = size_t(::sysconf(_SC_PAGESIZE));
    if (huge <= page || !std::has_single_bit(page))
        return 0;
    // "defer" and "never" never compact at a fault: the kernel takes small
    // pages when no huge one is free
    const std::string defrag = readSmallFile("/sys/kernel/mm/transparent_hugepage/defrag");
    if (defrag.find("[defer]") != std::string::npos || defrag.find("[never]") != std::string::npos)
        return huge;
    const auto order = unsigned(std::countr_zero(huge / page));
    return freeBytesInBlocks(readSmallFile("/proc/buddyinfo"), order, page) >= kPlentyFree ? huge : 0;
}

// Below this a block comes from the C library: a huge page for it would cost
// more memory than its small pages cost time.
constexpr size_t kMappedAlone = size_t(1) << 20;

size_t hugePageAtHand()
{
    static const size_t huge = decideHugePages();
    return huge;
}

// The bytes of a block mapped alone in huge pages: its last, partly used
// huge page is taken whole when the block fills at least half of it, and
// left in small pages otherwise (a huge page is all in memory once touched,
// and a run holds a dozen such blocks at once).
size_t hugeLength(size_t bytes)
{
    const size_t huge = hugePageAtHand();
    const size_t nearest = (bytes + huge / 2) & ~(huge - 1);
    if (nearest >= bytes)
        return nearest;
    static const auto page = size_t(::sysconf(_SC_PAGESIZE));
    return (bytes + page - 1) & ~(page - 1);
}
} // namespace

size_t freeBytesInBlocks(std::string_view buddyInfo, unsigned order, size_t pageSize)
{
    // "Node 0, zone   Normal   13204  16342 ...": free blocks of each
    // order, from 0, after the zone's name
    size_t total = 0;
    while (!buddyInfo.empty()) {
        const size_t end = std::min(buddyInfo.find('\n'), buddyInfo.size());
        std::string_view line = buddyInfo.substr(0, end);
        buddyInfo.remove_prefix(std::min(end + 1, buddyInfo.size()));
        const size_t zone = line.find("zone");
        if (zone == std::string_view::npos)
            continue;
        line.remove_prefix(zone + 4);
        const size_t name = line.find_first_not_of(' ');
        if (name == std::string_view::npos)
            continue;
        line.remove_prefix(std::min(line.find(' ', name), line.size()));
        for (unsigned k = 0; k < 64; ++k) {
            const size_t number = line.find_first_not_of(' ');
            if (number == std::string_view::npos)
                break;
            line.remove_prefix(number);
            size_t count = 0;
            const auto [rest, error] = std::from_chars(line.data(), line.data() + line.size(), count);
            if (error != std::errc())
                break;
            line.remove_prefix(size_t(rest - line.data()));
            if (k >= order && count > 0 && k < 48) {
                const size_t bytes = (size_t(1) << k) * pageSize;
                const size_t free = count > SIZE_MAX / bytes ? SIZE_MAX : count * bytes;
                total = free > SIZE_MAX - total ? SIZE_MAX : total + free;
            }
        }
    }
    return total;
}

void preferHugePages(void* data, size_t bytes)
{
#if defined(MADV_HUGEPAGE)
    const size_t huge = hugePageAtHand();
    if (huge == 0 || bytes < huge)
        return;
    // only the huge pages the block holds whole: the rest of those it
    // shares may belong to other blocks
    const uintptr_t begin = (reinterpret_cast<uintptr_t>(data) + huge - 1) & ~uintptr_t(huge - 1);
    const uintptr_t end = (reinterpret_cast<uintptr_t>(data) + bytes) & ~uintptr_t(huge - 1);
    if (end > begin)
        ::madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE);
#else
    (void)data;
    (void)bytes;
#endif
}

bool mapsAlone(size_t bytes)
{
#if defined(MADV_HUGEPAGE)
    return bytes >= kMappedAlone && hugePageAtHand() != 0 && bytes <= SIZE_MAX / 2;
#else
    (void)bytes;
    return false;
#endif
}

void* allocateHuge(size_t bytes)
{
#if defined(MADV_HUGEPAGE)
    if (!mapsAlone(bytes))
        return nullptr;
    const size_t huge = hugePageAtHand();
    const size_t length = hugeLength(bytes);
    // a huge page more than needed, so that an aligned start lies inside;
    // the ends around it go back at once
    void* mapped = ::mmap(nullptr, length + huge, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (mapped == MAP_FAILED)
        throw std::bad_alloc();
    const auto start = reinterpret_cast<uintptr_t>(mapped);
    const uintptr_t aligned = (start + huge - 1) & ~uintptr_t(huge - 1);
    if (aligned > start)
        ::munmap(mapped, aligned - start);
    if (const uintptr_t tail = start + length + huge - (aligned + length); tail > 0)
        ::munmap(reinterpret_cast<void*>(aligned + length), tail);
    ::madvise(reinterpret_cast<void*>(aligned), length, MADV_HUGEPAGE);
    return reinterpret_cast<void*>(aligned);
#else
    (void)bytes;
    return nullptr;
#endif
}

void freeHuge(void* data, size_t bytes)
{
    if (data)
        ::munmap(data, hugeLength(bytes));
}

void prefaultForWrite(void* data, size_t bytes)
{
#if defined(MADV_POPULATE_WRITE)
    preferHugePages(data, bytes);
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
