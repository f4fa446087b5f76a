#pragma once
// A file that replaces another only once it is completely written: the new
// text goes to a temporary file beside it, which is then renamed over the
// old one. A failure (a full disk) leaves the old file as it was, no
// temporary behind, and the system's reason in errorString().

#include <QByteArrayView>
#include <QString>
#include <QTemporaryFile>

#include <memory>
#include <vector>

namespace og {

// Writes all of data to a file descriptor with the system's calls. On a
// failure, false and the system's reason ("No space left on device"); a
// write the system takes only in part goes on until it is refused.
bool writeFully(int fd, const char* data, qint64 size, QString* reason);

class ReplacingFile {
public:
    explicit ReplacingFile(const QString& path);
    ~ReplacingFile();
    ReplacingFile(const ReplacingFile&) = delete;
    ReplacingFile& operator=(const ReplacingFile&) = delete;

    bool open();
    // Where the new text goes; a write fails once the system refused one.
    QIODevice& device();
    // Writes out what is buffered; false (with the reason) when the system
    // refused it.
    bool flush();
    // Writes out what is buffered, checks it, closes the file and puts it in
    // place of path.
    bool commit();
    // Puts every file in place, or none of them: all are written out and
    // checked first; then each old file is kept aside (a hard link, or a
    // copy) while the new ones are renamed in, and when one rename fails,
    // the files already renamed get their old text back (or go, when there
    // was none). False on a failure, with *failed the file whose
    // errorString() says why.
    static bool commitAll(const std::vector<ReplacingFile*>& files, ReplacingFile** failed);
    // Removes the temporary files that replacing path left behind when a
    // run was killed before it could (path + ".ordergate-" and six letters
    // or digits, and the same with "~": an old file kept aside). Those of
    // earlier versions (path + "." and six letters or digits, with or
    // without "~") are removed only when they start with oldSignature, so
    // that no file of the vendor's own goes. Symbolic links and folders
    // stay. Returns how many files went.
    static int removeLeftovers(const QString& path, QByteArrayView oldSignature = {});
    // The system's reason for the last failure.
    QString errorString() const;

private:
    class Writer;
    // commit()'s two steps.
    bool prepare();
    bool place();

    QString path_;
    QTemporaryFile temp_;
    std::unique_ptr<Writer> writer_;
    QString error_;
};

} // namespace og
