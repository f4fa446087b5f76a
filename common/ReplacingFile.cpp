#include "common/ReplacingFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

namespace og {

namespace {

// The modes an ordinary new file gets: read and write for all, less the
// process's umask (read once, before any other thread could change it).
QFile::Permissions newFilePermissions()
{
    static const mode_t mask = [] {
        const mode_t m = ::umask(0);
        ::umask(m);
        return m;
    }();
    QFile::Permissions p;
    if (!(mask & S_IRUSR))
        p |= QFile::ReadOwner | QFile::ReadUser;
    if (!(mask & S_IWUSR))
        p |= QFile::WriteOwner | QFile::WriteUser;
    if (!(mask & S_IRGRP))
        p |= QFile::ReadGroup;
    if (!(mask & S_IWGRP))
        p |= QFile::WriteGroup;
    if (!(mask & S_IROTH))
        p |= QFile::ReadOther;
    if (!(mask & S_IWOTH))
        p |= QFile::WriteOther;
    return p;
}

QString systemReason(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

} // namespace

bool writeFully(int fd, const char* data, qint64 size, QString* reason)
{
    // A megabyte per call at most: given 2 MiB or more at once, the page
    // cache takes huge pages for the file, and a huge page the system has
    // not used lately costs several times the copy (4 MiB calls wrote 64 MB
    // in 180 to 370 ms, 1 MiB calls in 20 to 45 ms, on a virtual machine).
    constexpr qint64 mostPerCall = qint64(1) << 20;
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size_t(std::min(size, mostPerCall)));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            *reason = systemReason(n < 0 ? errno : EIO);
            return false;
        }
        data += n;
        size -= n;
    }
    return true;
}

// Buffers the text and writes it with the system's calls, so that a write
// the system takes only in part (the last blocks of a full disk) and then
// refuses reports the system's reason, which QFile's buffered writes lose
// ("Unknown error").
class ReplacingFile::Writer : public QIODevice {
public:
    explicit Writer(int fd)
        : fd_(fd)
    {
        open(QIODevice::WriteOnly | QIODevice::Unbuffered);
    }
    bool flushBuffer()
    {
        const bool ok = writeAll(buffer_.constData(), buffer_.size());
        buffer_.clear();
        return ok;
    }
    const QString& failure() const { return failure_; }

protected:
    qint64 readData(char*, qint64) override { return -1; }
    qint64 writeData(const char* data, qint64 size) override
    {
        if (!failure_.isEmpty())
            return -1;
        if (buffer_.size() + size < kChunk) {
            buffer_.append(data, size);
            return size;
        }
        // Large blocks go out directly, without a copy.
        return flushBuffer() && writeAll(data, size) ? size : -1;
    }

private:
    bool writeAll(const char* data, qint64 size)
    {
        if (failure_.isEmpty() && !writeFully(fd_, data, size, &failure_))
            setErrorString(failure_);
        return failure_.isEmpty();
    }

    static constexpr qsizetype kChunk = 1 << 16;
    int fd_;
    QByteArray buffer_;
    QString failure_;
};

ReplacingFile::ReplacingFile(const QString& path)
    : path_(path),
      temp_(path + QStringLiteral(".ordergate-XXXXXX"))
{
    newFilePermissions();
}

ReplacingFile::~ReplacingFile() = default; // the temporary removes itself

bool ReplacingFile::open()
{
    if (!temp_.open()) {
        error_ = temp_.errorString();
        return false;
    }
    writer_ = std::make_unique<Writer>(temp_.handle());
    return true;
}

QIODevice& ReplacingFile::device()
{
    return *writer_;
}

bool ReplacingFile::flush()
{
    if (writer_ && writer_->flushBuffer())
        return true;
    error_ = writer_ ? writer_->failure() : temp_.errorString();
    return false;
}

bool ReplacingFile::commit()
{
    return prepare() && place();
}

bool ReplacingFile::prepare()
{
    // Written to the file system but not forced to the disk: as safe as a
    // plain write, and the old file stays whole until the rename.
    if (!flush())
        return false;
    writer_->close();
    temp_.close();
    if (temp_.error() != QFileDevice::NoError) {
        error_ = temp_.errorString();
        return false;
    }
    // The file keeps the modes it had (a settings file kept private stays
    // so); a new one gets those of any new file.
    const QFile::Permissions modes = QFile::exists(path_) ? QFile::permissions(path_) : newFilePermissions();
    QFile::setPermissions(temp_.fileName(), modes);
    return true;
}

bool ReplacingFile::place()
{
    if (std::rename(QFile::encodeName(temp_.fileName()).constData(), QFile::encodeName(path_).constData()) != 0) {
        error_ = systemReason(errno);
        return false;
    }
    temp_.setAutoRemove(false);
    return true;
}

namespace {

// The old file of a group's member, kept aside until the group is in place.
struct Kept {
    QString path, aside; // aside empty: there was no old file
};

bool keepAside(const QString& path, const QString& aside, QString* reason)
{
    const QByteArray from = QFile::encodeName(path), to = QFile::encodeName(aside);
    if (::link(from.constData(), to.constData()) == 0)
        return true;
    // a file system without hard links: a copy serves
    if (QFile::copy(path, aside))
        return true;
    *reason = systemReason(errno);
    return false;
}

} // namespace

bool ReplacingFile::commitAll(const std::vector<ReplacingFile*>& files, ReplacingFile** failed)
{
    for (ReplacingFile* file : files) {
        if (!file->prepare()) {
            *failed = file;
            return false;
        }
    }
    std::vector<Kept> kept;
    const auto dropAside = [&kept] {
        for (const Kept& k : kept) {
            if (!k.aside.isEmpty())
                QFile::remove(k.aside);
        }
    };
    for (ReplacingFile* file : files) {
        Kept k {file->path_, {}};
        if (QFileInfo(file->path_).isFile()) {
            k.aside = file->temp_.fileName() + u'~';
            if (!keepAside(file->path_, k.aside, &file->error_)) {
                dropAside();
                *failed = file;
                return false;
            }
        }
        kept.push_back(k);
    }
    for (size_t i = 0; i < files.size(); ++i) {
        if (files[i]->place())
            continue;
        for (size_t j = 0; j < i; ++j) {
            const QByteArray path = QFile::encodeName(kept[j].path);
            if (kept[j].aside.isEmpty())
                ::unlink(path.constData());
            else if (std::rename(QFile::encodeName(kept[j].aside).constData(), path.constData()) == 0)
                kept[j].aside.clear();
        }
        dropAside();
        *failed = files[i];
        return false;
    }
    dropAside();
    return true;
}

int ReplacingFile::removeLeftovers(const QString& path, QByteArrayView oldSignature)
{
    const QFileInfo target(path);
    const QDir folder = target.dir();
    const QString base = QRegularExpression::escape(target.fileName());
    static const QString kSix = QStringLiteral("[A-Za-z0-9]{6}~?");
    const QRegularExpression ours(QStringLiteral("^%1\\.ordergate-%2$").arg(base, kSix));
    const QRegularExpression older(QStringLiteral("^%1\\.%2$").arg(base, kSix));
    int removed = 0;
    // every name, not a wildcard: a product name may hold "[" or "*"
    for (const QFileInfo& entry : folder.entryInfoList(QDir::Files | QDir::Hidden | QDir::System)) {
        if (!entry.fileName().startsWith(target.fileName()))
            continue;
        if (entry.isSymLink() || !entry.isFile())
            continue;
        bool leftover = ours.match(entry.fileName()).hasMatch();
        if (!leftover && !oldSignature.isEmpty() && older.match(entry.fileName()).hasMatch()) {
            QFile file(entry.filePath());
            leftover = file.open(QIODevice::ReadOnly) && file.read(oldSignature.size()) == oldSignature;
        }
        removed += leftover && QFile::remove(entry.filePath());
    }
    return removed;
}

QString ReplacingFile::errorString() const
{
    if (!error_.isEmpty())
        return error_;
    return writer_ && !writer_->failure().isEmpty() ? writer_->failure() : temp_.errorString();
}

} // namespace og
