#pragma once
// One IMAP reply read as it arrives: the untagged responses that come
// before the command's tagged completion, each with its literals ("{N}" and
// N bytes, as a FETCH carries a message). Pure: the bytes come from any
// connection, so hostile replies are fuzzed without a server.

#include <QByteArray>
#include <QByteArrayView>
#include <QList>

namespace og {

struct ImapUntagged {
    QByteArray text;            // the response without "* ", each literal's place marked "{}"
    QList<QByteArray> literals; // in the order they came
};

class ImapReplyReader {
public:
    // tag: the tag of the command whose completion ends the reply; limit:
    // the most bytes the reply may take, so a server cannot exhaust memory.
    ImapReplyReader(QByteArray tag, qsizetype limit);

    enum class State { NeedMore, Done, Malformed };
    // Takes the next bytes received. Done once the tagged completion came;
    // Malformed (and problem() says why) for what no IMAP server sends.
    State feed(QByteArrayView bytes);

    State state() const { return state_; }
    // The completion's status word ("OK", "NO", "BAD") and its text.
    const QByteArray& status() const { return status_; }
    const QByteArray& statusText() const { return statusText_; }
    const QList<ImapUntagged>& untagged() const { return untagged_; }
    const QByteArray& problem() const { return problem_; }

private:
    State fail(const char* why);
    State takeLine(QByteArray line);

    QByteArray tag_;
    qsizetype limit_;
    qsizetype taken_ = 0;
    QByteArray buffer_;
    ImapUntagged current_;
    qsizetype literalLeft_ = -1; // bytes of the current literal still to come
    State state_ = State::NeedMore;
    QByteArray status_, statusText_, problem_;
    QList<ImapUntagged> untagged_;
};

// The response's words after the number of "* 12 FETCH (...)": the value
// that follows name ("UID" gives "34"), empty when there is none.
QByteArray imapItem(const QByteArray& text, QByteArrayView name);

} // namespace og
