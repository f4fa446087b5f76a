#pragma once
// A full disk on demand, without privileges: while a FileSizeLimit lives,
// every file this process writes is refused past `bytes` by the system
// (EFBIG, "File too large"), the way a full file system refuses with ENOSPC.
// The signal such a write raises is ignored, so the write just fails.

#include <csignal>
#include <sys/resource.h>

namespace og::test {

class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes)
    {
        ::getrlimit(RLIMIT_FSIZE, &previous_);
        previousHandler_ = std::signal(SIGXFSZ, SIG_IGN);
        rlimit limit = previous_;
        limit.rlim_cur = bytes;
        ::setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~FileSizeLimit()
    {
        ::setrlimit(RLIMIT_FSIZE, &previous_);
        std::signal(SIGXFSZ, previousHandler_);
    }
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;

private:
    rlimit previous_ {};
    void (*previousHandler_)(int) = SIG_DFL;
};

} // namespace og::test
