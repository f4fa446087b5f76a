#pragma once
// A report read by mapping it rather than copying it: the file's pages
// come straight from the kernel's cache, where reading a report of a
// hundred megabytes into memory of its own costs more than the whole intake.
// A mapping has one hazard a copy has not: a file cut short while it is
// mapped (a new download saved over it) takes the pages beyond its new end
// away. Those pages then read as zeros, and lost() says so, for the run to
// refuse to write anything from a report it did not see whole.

#include <QByteArray>
#include <QString>
#include <cstddef>
#include <memory>

namespace og {

class MappedFile {
public:
    // The file at path mapped read-only; null with reason set when it
    // cannot be opened or mapped (a caller then reads it the usual way).
    static std::unique_ptr<MappedFile> open(const QString& path, QString* reason);
    ~MappedFile();
    MappedFile(const MappedFile&) = delete;
    MappedFile& operator=(const MappedFile&) = delete;

    // The file's bytes, without a copy: valid while this object lives.
    QByteArray bytes() const;
    qsizetype size() const { return qsizetype(size_); }
    // Whether part of the file went while it was mapped.
    bool lost() const;
    // Lets the pages wholly inside [from, to) go from this process's
    // memory: they stay in the kernel's cache, and a later read maps them
    // again, so the bytes read never change. A run that has passed a part
    // of the report gives it back rather than holding the whole file.
    void release(const char* from, const char* to) const;

private:
    MappedFile(void* data, size_t size, int slot);
    void* data_;
    size_t size_;
    int slot_;
};

} // namespace og
