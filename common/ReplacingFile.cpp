#include "common/ReplacingFile.h"

#include <QFile>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <sys/stat.h>

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

} // namespace

ReplacingFile::ReplacingFile(const QString& path)
    : path_(path),
      temp_(path + QStringLiteral(".XXXXXX"))
{
    newFilePermissions();
}

ReplacingFile::~ReplacingFile() = default; // the temporary removes itself

bool ReplacingFile::open()
{
    if (temp_.open())
        return true;
    error_ = temp_.errorString();
    return false;
}

bool ReplacingFile::commit()
{
    // Written to the file system but not forced to the disk: as safe as a
    // plain write, and the old file stays whole until the rename.
    if (!temp_.flush()) {
        error_ = temp_.errorString();
        return false;
    }
    const QString tempName = temp_.fileName();
    temp_.close();
    if (temp_.error() != QFileDevice::NoError) {
        error_ = temp_.errorString();
        return false;
    }
    QFile::setPermissions(tempName, newFilePermissions());
    if (std::rename(QFile::encodeName(tempName).constData(), QFile::encodeName(path_).constData()) != 0) {
        error_ = QString::fromLocal8Bit(std::strerror(errno));
        return false;
    }
    temp_.setAutoRemove(false);
    return true;
}

QString ReplacingFile::errorString() const
{
    return error_.isEmpty() ? temp_.errorString() : error_;
}

} // namespace og
