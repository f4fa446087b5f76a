#pragma once
// A file that replaces another only once it is completely written: the new
// text goes to a temporary file beside it, which is then renamed over the
// old one. A failure leaves the old file as it was and no temporary behind.

#include <QString>
#include <QTemporaryFile>

namespace og {

class ReplacingFile {
public:
    explicit ReplacingFile(const QString& path);
    ~ReplacingFile();
    ReplacingFile(const ReplacingFile&) = delete;
    ReplacingFile& operator=(const ReplacingFile&) = delete;

    bool open();
    QIODevice& device() { return temp_; }
    // Closes the file and puts it in place of path.
    bool commit();
    // The system's reason for the last failure.
    QString errorString() const;

private:
    QString path_;
    QTemporaryFile temp_;
    QString error_;
};

} // namespace og
