#pragma once
// Reading what a run takes in besides its options, the same way for the
// window and the command line: the report file, and the customer lists read
// beside the rest of the start-up.

#include "orders/CustomerLists.h"

#include <QByteArray>
#include <QFuture>
#include <QString>
#include <functional>
#include <memory>

namespace og {

enum class FileRead { Read, Missing, Failed };

// Reads a whole regular file into bytes (a large one into one buffer of its
// size). Missing: nothing of that name exists (a link to nothing is a
// failure, not missing). Failed: reason says why, "not a regular file" for a
// FIFO, device or socket, which is never opened for reading, so it cannot
// block. validUtf8, when given: whether the bytes read are all valid UTF-8,
// checked as they arrive (toValidUtf8 then need not check them again).
FileRead readRegularFile(const QString& path, QByteArray* bytes, QString* reason, bool* validUtf8 = nullptr);

// Reads a regular file in parts of about a megabyte, each handed to take as
// it arrives: a file of any size is never in memory whole. The outcomes are
// those of readRegularFile; a part handed on before a failure stays handed.
FileRead readRegularFileInParts(const QString& path, QString* reason, const std::function<void(QByteArrayView)>& take);

// The report file's bytes; false with the message in error when it is
// missing or cannot be read.
bool readReportFile(const QString& path, QByteArray* bytes, QString* error, bool* validUtf8 = nullptr);

// The folder the customer lists are read from: the working folder as it is
// now, ending in "/".
QString customerListsFolder();

// The customer lists of a folder, read on a thread of its own from creation
// on (a big shop's lists hold hundreds of thousands of entries).
class ListLoad {
public:
    explicit ListLoad(const QString& folder);
    ~ListLoad(); // waits for the load
    ListLoad(const ListLoad&) = delete;
    ListLoad& operator=(const ListLoad&) = delete;

    // Finishes when the load has ended, for a watcher on the GUI thread.
    QFuture<void> future() const;
    // Waits for the load to end; the error message, empty on success.
    QString wait();
    // The lists, once wait() has returned.
    const CustomerLists& lists() const { return *lists_; }
    const QString& folder() const { return folder_; }

private:
    struct State;
    QString folder_;
    std::unique_ptr<CustomerLists> lists_;
    std::unique_ptr<State> state_;
};

} // namespace og
