#pragma once
// Reading the program's text files: UTF-8, with every byte that is not part
// of valid UTF-8 read as Windows-1252, so files from the old Windows program
// read as they were meant.

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringList>

namespace og {

// Every UTF-8 byte order mark at the start of a text: a tool that adds one
// to text that had one leaves two, and the text means the same.
QByteArrayView withoutByteOrderMarks(QByteArrayView bytes);

// Byte order marks at the start are dropped (withoutByteOrderMarks).
QString decodeText(QByteArrayView bytes);

// The same decoding, giving UTF-8 (bytes unchanged when already valid UTF-8
// without a byte order mark). validUtf8: the caller already knows the bytes
// are valid UTF-8 (Utf8Check), so they are not checked again.
QByteArray toValidUtf8(QByteArray bytes, bool validUtf8 = false);

// Checks a buffer for valid UTF-8 as it fills, each part while it is still
// in the processor's cache: a second pass over a report of a hundred
// megabytes reads it from memory again. check() takes the whole buffer so
// far each time and goes on where it stopped.
class Utf8Check {
public:
    // complete: no more bytes follow (a sequence cut off at the end is then
    // invalid, not waiting for its rest).
    void check(QByteArrayView text, bool complete);
    bool valid() const { return valid_; }

private:
    qsizetype checked_ = 0;
    bool valid_ = true;
};

// Lines of a list file: a CR LF, a lone CR and a lone LF each end a line; a
// Ctrl-Z (code 26) ends the text; a line end at the very end of the text does
// not start another line. Lines are not trimmed.
QStringList splitListLines(QStringView text);
// The same line ends without the Ctrl-Z rule, for the settings file: its
// writer keeps every byte of a value, so its reader must see past a Ctrl-Z.
QStringList splitLines(QStringView text);

// Reads a whole list file (decoded as above) into lines. Returns false when
// the file exists but cannot be opened or read; error then holds the reason.
// A missing file gives true and no lines; exists tells which.
bool readListFile(const QString& path, QStringList* lines, bool* exists, QString* error);

} // namespace og
