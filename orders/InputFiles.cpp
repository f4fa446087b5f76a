#include "orders/InputFiles.h"

#include "common/TextFiles.h"
#include "orders/Prefault.h"

#include <QDir>
#include <QFile>
#include <QPromise>
#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <fcntl.h>
#include <functional>
#include <sys/mman.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace og {

namespace {

QString systemReason(int error)
{
    return qt_error_string(error);
}

// Opens path for reading if it is a regular file: the descriptor, and its
// size in info; -1 with the outcome in failure otherwise.
int openRegularFile(const QString& path, QString* reason, struct stat* info, FileRead* failure)
{
    const QByteArray name = QFile::encodeName(path);
    // Not blocking: opening a FIFO for reading would wait for a writer.
    const int fd = ::open(name.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    *failure = FileRead::Failed;
    if (fd < 0) {
        const int error = errno;
        struct stat link;
        if (error == ENOENT && ::lstat(name.constData(), &link) == 0 && S_ISLNK(link.st_mode)) {
            *reason = QStringLiteral("it is a link to %1, which does not exist").arg(QFile::symLinkTarget(path));
            return -1;
        }
        if (error == ENOENT)
            *failure = FileRead::Missing;
        else
            *reason = systemReason(error);
        return -1;
    }
    if (::fstat(fd, info) != 0) {
        *reason = systemReason(errno);
        ::close(fd);
        return -1;
    }
    if (!S_ISREG(info->st_mode)) {
        *reason = S_ISDIR(info->st_mode) ? QStringLiteral("it is a folder") : QStringLiteral("not a regular file");
        ::close(fd);
        return -1;
    }
    return fd;
}

// Up to size bytes of fd into into: their count, 0 at the end, or -1 with
// reason set. A read a signal interrupted is made again.
ssize_t readSome(int fd, char* into, size_t size, QString* reason)
{
    for (;;) {
        const ssize_t n = ::read(fd, into, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            *reason = systemReason(errno);
        return n;
    }
}

} // namespace

FileRead readRegularFileInParts(const QString& path, QString* reason, const std::function<void(QByteArrayView)>& take)
{
    struct stat info;
    FileRead failure;
    const int fd = openRegularFile(path, reason, &info, &failure);
    if (fd < 0)
        return failure;
    // one part's buffer, used again and again: it stays in the cache
    constexpr qsizetype part = qsizetype(1) << 20;
    QByteArray buffer(part, Qt::Uninitialized);
    for (;;) {
        const ssize_t n = readSome(fd, buffer.data(), size_t(part), reason);
        if (n < 0) {
            ::close(fd);
            return FileRead::Failed;
        }
        if (n == 0)
            break;
        take(QByteArrayView(buffer.constData(), n));
    }
    ::close(fd);
    return FileRead::Read;
}

FileRead readRegularFile(const QString& path, QByteArray* bytes, QString* reason, bool* validUtf8)
{
    bytes->clear();
    if (validUtf8)
        *validUtf8 = false;
    struct stat info;
    FileRead failure;
    const int fd = openRegularFile(path, reason, &info, &failure);
    if (fd < 0)
        return failure;
    // Straight into one buffer of the file's size: a report of a hundred
    // megabytes is read without growing and copying. Huge pages only where
    // preferHugePages finds them free: on memory another program had just
    // fragmented, an unconditional hint made the kernel compact memory
    // first, which took seconds for a 200 MB report where the read itself
    // takes a tenth. Read in parts, each checked for UTF-8 while it is in
    // the cache.
    constexpr qsizetype part = qsizetype(1) << 16;
    Utf8Check check;
    qsizetype size = qsizetype(info.st_size);
    bytes->resize(size);
    preferHugePages(bytes->data(), size_t(size));
    qsizetype got = 0;
    for (;;) {
        if (got == size) {
            // grown meanwhile, or reached the end
            size += 65536;
            bytes->resize(size);
        }
        const size_t want = size_t(std::min(size - got, part));
        prefaultForWrite(bytes->data() + got, want);
        const ssize_t n = readSome(fd, bytes->data() + got, want, reason);
        if (n < 0) {
            ::close(fd);
            bytes->clear();
            return FileRead::Failed;
        }
        if (n == 0)
            break;
        got += n;
        if (validUtf8)
            check.check(QByteArrayView(bytes->constData(), got), false);
    }
    ::close(fd);
    bytes->resize(got);
    if (validUtf8) {
        check.check(*bytes, true);
        *validUtf8 = check.valid();
    }
    return FileRead::Read;
}

bool readReportFile(const QString& path, QByteArray* bytes, QString* error, bool* validUtf8)
{
    QString reason;
    switch (readRegularFile(path, bytes, &reason, validUtf8)) {
    case FileRead::Read:
        return true;
    case FileRead::Missing:
        reason = QStringLiteral("No such file or directory");
        break;
    case FileRead::Failed:
        break;
    }
    *error = QStringLiteral("Unable to read the report %1: %2").arg(path, reason);
    return false;
}

QString customerListsFolder()
{
    return QDir::currentPath() + u'/';
}

struct ListLoad::State {
    QPromise<void> done;
    QFuture<void> future;
    QString error;
    std::thread thread;
};

ListLoad::ListLoad(const QString& folder)
    : folder_(folder),
      lists_(std::make_unique<CustomerLists>()),
      state_(std::make_unique<State>())
{
    state_->future = state_->done.future();
    state_->done.start();
    state_->thread = std::thread([this] {
        try {
            lists_->load(folder_);
        } catch (const std::exception& e) {
            state_->error = QString::fromUtf8(e.what());
        }
        state_->done.finish();
    });
}

ListLoad::~ListLoad()
{
    wait();
}

QFuture<void> ListLoad::future() const
{
    return state_->future;
}

QString ListLoad::wait()
{
    if (state_->thread.joinable())
        state_->thread.join();
    return state_->error;
}

} // namespace og
