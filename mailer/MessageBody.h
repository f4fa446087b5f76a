#pragma once
// The body of a notification as the vendor typed it, and the text lines it
// is made of: the body field's lines, a text file's, the signature's.

#include <QList>
#include <QString>
#include <QStringList>

namespace og {

struct MailerSettings;

// The body as the vendor sees it: its lines as the body field shows them
// (the message and the log carry these) and, for each, whether it only wraps
// on into the next line instead of ending a typed line. The typed text
// (message.txt) follows from both.
class MessageBody {
public:
    MessageBody() = default;
    // Each line typed as it stands; endsWithBreak: the text ends with a line
    // break (the field shows no empty line for it).
    explicit MessageBody(const QStringList& lines, bool endsWithBreak = false);
    // A line shown; wraps: the typed line goes on in the next line shown.
    void addLine(const QString& line, bool wraps);
    // The typed text ends with a line break after the last line.
    void endWithBreak() { endsWithBreak_ = true; }
    // Appends lines each on a line of its own, as a signature is appended.
    void append(const QStringList& lines);

    const QStringList& lines() const { return lines_; }
    // Whether line i only wraps on into the next one.
    bool wraps(qsizetype i) const { return wraps_.value(i); }
    bool isEmpty() const { return lines_.isEmpty(); }
    // The text as typed, "\n" between typed lines.
    QString typedText() const;

private:
    QStringList lines_;
    QList<bool> wraps_;
    bool endsWithBreak_ = false;
};

// The lines of a text as a list, the way an edit field counts them: a final
// line break ends the last line and adds no empty one.
QStringList splitTextLines(const QString& text);

// Appends lines to a typed text the way the body field takes them: each on
// a line of its own after what is already there.
QString appendTextLines(const QString& text, const QStringList& lines);

// Reads a text file as lines (UTF-8, stray bytes as Windows-1252).
// Throws SendFailure when it cannot be read.
QStringList readTextFileLines(const QString& path);

// The signature a run appends to the body: the lines of the signature file
// when it is switched on and the file exists, else none. Throws SendFailure
// when it cannot be read.
QStringList readSignature(const MailerSettings& settings);

} // namespace og
