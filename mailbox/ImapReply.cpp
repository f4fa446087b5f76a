#include "mailbox/ImapReply.h"

namespace og {

namespace {

// The length a line announces at its end ("{123}", "{123+}", "~{123}"), or
// -1 when it announces none; -2 for a length past any sane message.
qsizetype announcedLiteral(QByteArrayView line)
{
    if (!line.endsWith('}'))
        return -1;
    const qsizetype open = line.lastIndexOf('{');
    if (open < 0)
        return -1;
    QByteArrayView digits = line.sliced(open + 1, line.size() - open - 2);
    if (digits.endsWith('+'))
        digits.chop(1);
    if (digits.isEmpty() || digits.size() > 10)
        return digits.isEmpty() ? -1 : -2;
    qsizetype n = 0;
    for (const char c : digits) {
        if (c < '0' || c > '9')
            return -1;
        n = n * 10 + (c - '0');
    }
    return n;
}

} // namespace

ImapReplyReader::ImapReplyReader(QByteArray tag, qsizetype limit)
    : tag_(std::move(tag)),
      limit_(limit)
{
}

ImapReplyReader::State ImapReplyReader::fail(const char* why)
{
    problem_ = why;
    buffer_.clear();
    return state_ = State::Malformed;
}

ImapReplyReader::State ImapReplyReader::feed(QByteArrayView bytes)
{
    if (state_ != State::NeedMore)
        return state_;
    taken_ += bytes.size();
    if (taken_ > limit_)
        return fail("the reply is larger than any message read here");
    buffer_.append(bytes);
    qsizetype at = 0;
    while (state_ == State::NeedMore) {
        if (literalLeft_ >= 0) {
            if (buffer_.size() - at < literalLeft_)
                break;
            current_.literals.append(buffer_.mid(at, literalLeft_));
            at += literalLeft_;
            literalLeft_ = -1;
            continue;
        }
        const qsizetype end = buffer_.indexOf('\n', at);
        if (end < 0)
            break;
        QByteArray line = buffer_.mid(at, end - at);
        at = end + 1;
        if (line.endsWith('\r'))
            line.chop(1);
        takeLine(std::move(line));
    }
    if (state_ == State::NeedMore)
        buffer_.remove(0, at);
    else
        buffer_.clear();
    return state_;
}

ImapReplyReader::State ImapReplyReader::takeLine(QByteArray line)
{
    const qsizetype literal = announcedLiteral(line);
    if (literal == -2)
        return fail("a literal is announced with an impossible length");
    const bool continued = !current_.text.isEmpty() || !current_.literals.isEmpty();
    if (literal >= 0) {
        qsizetype open = line.lastIndexOf('{');
        if (open > 0 && line.at(open - 1) == '~')
            --open; // a literal8 (RFC 3516)
        if (!continued && !line.startsWith("* "))
            return fail("a literal outside an untagged response");
        current_.text += (continued ? line.left(open) : line.mid(2, open - 2)) + "{}";
        literalLeft_ = literal;
        return state_;
    }
    if (continued) {
        current_.text += line;
        untagged_.append(std::move(current_));
        current_ = ImapUntagged();
        return state_;
    }
    if (line.startsWith("* ")) {
        untagged_.append({line.mid(2), {}});
        return state_;
    }
    if (line.startsWith("+"))
        return fail("the server asks for more of a command that was complete");
    if (!line.startsWith(tag_ + ' '))
        return fail("a line that is neither a response nor the command's completion");
    const QByteArray rest = line.mid(tag_.size() + 1);
    const qsizetype blank = rest.indexOf(' ');
    status_ = (blank < 0 ? rest : rest.left(blank)).toUpper();
    statusText_ = blank < 0 ? QByteArray() : rest.mid(blank + 1);
    if (status_ != "OK" && status_ != "NO" && status_ != "BAD")
        return fail("the command's completion carries no status");
    return state_ = State::Done;
}

QByteArray imapItem(const QByteArray& text, QByteArrayView name)
{
    const qsizetype open = text.indexOf('(');
    if (open < 0)
        return {};
    const QList<QByteArray> words = text.mid(open + 1).split(' ');
    for (qsizetype i = 0; i + 1 < words.size(); ++i) {
        if (QByteArrayView(words[i]).compare(name, Qt::CaseInsensitive) == 0) {
            QByteArray value = words[i + 1];
            while (value.endsWith(')'))
                value.chop(1);
            return value;
        }
    }
    return {};
}

} // namespace og
