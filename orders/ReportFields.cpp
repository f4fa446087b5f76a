#include "orders/ReportFields.h"

#include "common/Trim.h"
#include "orders/ByteWords.h"

#include <algorithm>

namespace og {

namespace {

// What follows a separator is cut to this many characters before it is
// searched again; fields beyond it in very long lines come out empty.
constexpr qsizetype kRestLimit = 9999;

template <typename View, typename Sep>
View fieldOf(View line, Sep sep, qsizetype sepLength, int n, qsizetype limit)
{
    View t = line;
    for (int k = 0; k < n; ++k) {
        const qsizetype at = t.indexOf(sep);
        if (at < 0)
            continue; // t stays as it is
        t = t.sliced(at + sepLength);
        if (t.size() > limit)
            t = t.first(limit);
    }
    const qsizetype at = t.indexOf(sep);
    if (at < 0)
        return View();
    return t.first(at);
}

template <typename View, typename Ch>
View addressOf(View line, Ch separator)
{
    const qsizetype at = line.indexOf('@');
    if (at < 0)
        return View();
    qsizetype begin = at;
    while (begin > 0 && line[begin - 1] != separator)
        --begin;
    qsizetype end = at + 1;
    while (end < line.size() && line[end] != separator)
        ++end;
    return line.sliced(begin, end - begin);
}

QString swregDateOf(QStringView line)
{
    QStringView t = line;
    qsizetype at = t.indexOf(u',');
    if (at >= 0) {
        t = t.sliced(at + 1);
        t = t.first(std::min(t.size(), kRestLimit));
    }
    at = t.indexOf(u' ');
    if (at >= 0) {
        t = t.sliced(at + 1);
        t = t.first(std::min(t.size(), kRestLimit));
    }
    at = t.indexOf(u',');
    t = at >= 0 ? t.first(at) : QStringView();
    QString out = t.toString();
    const qsizetype colon = out.indexOf(u':');
    // one-based position of the colon, minus three: the blank before hh
    const qsizetype from = colon + 1 - 3;
    if (colon >= 0 && from >= 1)
        out.remove(from - 1, std::min<qsizetype>(9, out.size() - (from - 1)));
    out.replace(u' ', u'-');
    return out;
}

} // namespace

QString CommaField(QStringView line, int n)
{
    return trimmedView(fieldOf(line, u',', 1, n, kRestLimit)).toString();
}

QString QuotedField(QStringView line, int n)
{
    return trimmedView(fieldOf(line, u"\",\"", 3, n, kRestLimit)).toString();
}

QString OrderAddress(QStringView line, QChar separator)
{
    return addressOf(line, separator).toString();
}

QString SwregDate(QStringView line)
{
    return swregDateOf(line);
}

QString QuotedDate(QStringView line)
{
    QString date = QuotedField(line, 3);
    const qsizetype blank = date.indexOf(u' ');
    if (blank >= 0)
        date.truncate(blank);
    return date;
}

namespace bytes {

namespace {
// A UTF-8 line of at most this many bytes has fewer characters after any
// separator than the rest limit, so the limit cannot change a field.
bool limitCannotMatter(QByteArrayView line)
{
    return line.size() <= kRestLimit;
}
} // namespace

// Field n between the separators around it (empty when fewer than n + 1
// stand in the line), found a word at a time: each order line is cut for
// several fields, in the intake and again in the pass.
QByteArrayView nthField(QByteArrayView line, char separator, int n)
{
    const char* data = line.data();
    const qsizetype size = line.size();
    qsizetype begin = 0, i = 0;
    int passed = 0;
    if constexpr (words::kUsable) {
        for (; i + 8 <= size; i += 8) {
            for (uint64_t marks = words::equal(words::load(data + i), separator); marks; marks &= marks - 1) {
                const qsizetype at = i + words::byteOf(marks);
                if (passed++ == n)
                    return line.sliced(begin, at - begin);
                begin = at + 1;
            }
        }
    }
    for (; i < size; ++i) {
        if (data[i] != separator)
            continue;
        if (passed++ == n)
            return line.sliced(begin, i - begin);
        begin = i + 1;
    }
    return {};
}

QByteArrayView separatedField(QByteArrayView line, char separator, int n, QByteArray& spill)
{
    if (limitCannotMatter(line))
        return trimmedView(nthField(line, separator, n));
    const QString text = QString::fromUtf8(line);
    spill = trimmedView(fieldOf(QStringView(text), QChar::fromLatin1(separator), 1, n, kRestLimit)).toUtf8();
    return spill;
}

QByteArrayView quotedSeparatedField(QByteArrayView line, char separator, int n, QByteArray& spill)
{
    const char token[3] = {'"', separator, '"'};
    if (limitCannotMatter(line))
        return trimmedView(fieldOf(line, QByteArrayView(token, 3), 3, n, line.size()));
    const QString text = QString::fromUtf8(line);
    const QString tokenText = QString::fromLatin1(token, 3);
    spill = trimmedView(fieldOf(QStringView(text), QStringView(tokenText), 3, n, kRestLimit)).toUtf8();
    return spill;
}

QByteArrayView commaField(QByteArrayView line, int n, QByteArray& spill)
{
    return separatedField(line, ',', n, spill);
}

QByteArrayView quotedField(QByteArrayView line, int n, QByteArray& spill)
{
    return quotedSeparatedField(line, ',', n, spill);
}

QByteArrayView orderAddress(QByteArrayView line, char separator)
{
    return addressOf(line, separator);
}

QByteArrayView swregDate(QByteArrayView line, QByteArray& spill)
{
    spill = swregDateOf(QString::fromUtf8(line)).toUtf8();
    return spill;
}

QByteArrayView quotedDate(QByteArrayView line, QByteArray& spill)
{
    return firstWord(quotedField(line, 3, spill));
}

} // namespace bytes

} // namespace og
