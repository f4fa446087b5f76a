#include "orders/MappedFile.h"

#include <QFile>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <fcntl.h>
#include <mutex>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace og {

namespace {

// The mappings the bus-error handler answers for. A handler may only touch
// lock-free atomics, so the table is fixed and slots are claimed by
// compare-and-swap.
struct Guarded {
    std::atomic<uintptr_t> begin {0};
    std::atomic<uintptr_t> end {0};
    std::atomic<bool> lost {false};
    std::atomic<bool> used {false};
};
std::array<Guarded, 8> guarded;
uintptr_t pageSize = 4096;
struct sigaction previous;
std::once_flag installed;

void onBusError(int signal, siginfo_t* info, void* context)
{
    const auto at = reinterpret_cast<uintptr_t>(info->si_addr);
    for (Guarded& g : guarded) {
        const uintptr_t begin = g.begin.load(), end = g.end.load();
        if (begin == 0 || at < begin || at >= end)
            continue;
        // The file lost its pages from here on: zeros stand in for them, so
        // the intake goes on to its end and the run can refuse.
        const uintptr_t page = at & ~(pageSize - 1);
        void* zeros = ::mmap(
            reinterpret_cast<void*>(page), end - page, PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED, -1, 0);
        if (zeros != MAP_FAILED) {
            g.lost.store(true);
            return;
        }
    }
    // Not one of ours: whoever handled it before, or the default (the
    // fault repeats and ends the process as it would have).
    if ((previous.sa_flags & SA_SIGINFO) && previous.sa_sigaction) {
        previous.sa_sigaction(signal, info, context);
        return;
    }
    if (previous.sa_handler != SIG_DFL && previous.sa_handler != SIG_IGN) {
        previous.sa_handler(signal);
        return;
    }
    ::signal(SIGBUS, SIG_DFL);
}

void installHandler()
{
    pageSize = uintptr_t(::sysconf(_SC_PAGESIZE));
    struct sigaction action { };
    action.sa_sigaction = onBusError;
    action.sa_flags = SA_SIGINFO;
    sigemptyset(&action.sa_mask);
    ::sigaction(SIGBUS, &action, &previous);
}

int claimSlot(void* data, size_t size)
{
    for (size_t k = 0; k < guarded.size(); ++k) {
        bool free = false;
        if (guarded[k].used.compare_exchange_strong(free, true)) {
            const auto begin = reinterpret_cast<uintptr_t>(data);
            guarded[k].lost.store(false);
            guarded[k].end.store((begin + size + pageSize - 1) & ~(pageSize - 1));
            guarded[k].begin.store(begin);
            return int(k);
        }
    }
    return -1;
}

} // namespace

std::unique_ptr<MappedFile> MappedFile::open(const QString& path, QString* reason)
{
    std::call_once(installed, installHandler);
    const QByteArray name = QFile::encodeName(path);
    const int fd = ::open(name.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        *reason = qt_error_string(errno);
        return nullptr;
    }
    struct stat info;
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || info.st_size <= 0) {
        *reason = QStringLiteral("not a regular file with content");
        ::close(fd);
        return nullptr;
    }
    const auto size = size_t(info.st_size);
    void* data = ::mmap(nullptr, size, PROT_READ, MAP_PRIVATE | MAP_POPULATE, fd, 0);
    const int error = errno;
    ::close(fd);
    if (data == MAP_FAILED) {
        *reason = qt_error_string(error);
        return nullptr;
    }
    const int slot = claimSlot(data, size);
    if (slot < 0) {
        ::munmap(data, size);
        *reason = QStringLiteral("too many files mapped");
        return nullptr;
    }
    return std::unique_ptr<MappedFile>(new MappedFile(data, size, slot));
}

MappedFile::MappedFile(void* data, size_t size, int slot)
    : data_(data),
      size_(size),
      slot_(slot)
{
}

MappedFile::~MappedFile()
{
    Guarded& g = guarded[size_t(slot_)];
    g.begin.store(0);
    g.end.store(0);
    ::munmap(data_, size_);
    g.used.store(false);
}

QByteArray MappedFile::bytes() const
{
    return QByteArray::fromRawData(static_cast<const char*>(data_), qsizetype(size_));
}

void MappedFile::release(const char* from, const char* to) const
{
    const auto begin = std::max(reinterpret_cast<uintptr_t>(from), reinterpret_cast<uintptr_t>(data_));
    const auto end = std::min(reinterpret_cast<uintptr_t>(to), reinterpret_cast<uintptr_t>(data_) + size_);
    const uintptr_t first = (begin + pageSize - 1) & ~(pageSize - 1), last = end & ~(pageSize - 1);
    // a read-only mapping of a file: its pages are read again from the
    // file, never replaced by zeros
    if (first < last)
        ::madvise(reinterpret_cast<void*>(first), last - first, MADV_DONTNEED);
}

bool MappedFile::lost() const
{
    return guarded[size_t(slot_)].lost.load();
}

} // namespace og
