#include "common/TextFiles.h"

#include <QFile>
#include <QFileInfo>

#include <cstdint>
#include <cstring>
#include <thread>

namespace og {

namespace {

// Windows-1252 for 0x80..0x9F; the five undefined codes map to the C1
// controls of the same number, as Windows itself does.
constexpr char16_t kCp1252High[32] = {
    0x20AC,
    0x0081,
    0x201A,
    0x0192,
    0x201E,
    0x2026,
    0x2020,
    0x2021,
    0x02C6,
    0x2030,
    0x0160,
    0x2039,
    0x0152,
    0x008D,
    0x017D,
    0x008F,
    0x0090,
    0x2018,
    0x2019,
    0x201C,
    0x201D,
    0x2022,
    0x2013,
    0x2014,
    0x02DC,
    0x2122,
    0x0161,
    0x203A,
    0x0153,
    0x009D,
    0x017E,
    0x0178,
};

char16_t cp1252(unsigned char b)
{
    if (b >= 0x80 && b < 0xA0)
        return kCp1252High[b - 0x80];
    return char16_t(b);
}

// Length of the valid UTF-8 sequence starting at p (1..4), or 0 when the
// bytes there are not one.
int validSequence(const unsigned char* p, const unsigned char* end, char32_t* cp)
{
    const unsigned char b = p[0];
    int n;
    char32_t c;
    if (b < 0x80) {
        *cp = b;
        return 1;
    }
    if (b >= 0xC2 && b <= 0xDF) {
        n = 2;
        c = b & 0x1F;
    } else if (b >= 0xE0 && b <= 0xEF) {
        n = 3;
        c = b & 0x0F;
    } else if (b >= 0xF0 && b <= 0xF4) {
        n = 4;
        c = b & 0x07;
    } else
        return 0;
    if (end - p < n)
        return 0;
    for (int k = 1; k < n; ++k) {
        if ((p[k] & 0xC0) != 0x80)
            return 0;
        c = (c << 6) | (p[k] & 0x3F);
    }
    // reject overlong forms, surrogates and values past U+10FFFF
    if ((n == 3 && c < 0x800) || (n == 4 && (c < 0x10000 || c > 0x10FFFF)) || (c >= 0xD800 && c <= 0xDFFF))
        return 0;
    *cp = c;
    return n;
}

// Where the valid UTF-8 at the start of [p, end) ends, with the same rules
// as the decoder; runs of ASCII are checked 32 bytes, then eight bytes at a
// time, as reports are almost all ASCII.
const unsigned char* validUtf8End(const unsigned char* p, const unsigned char* end)
{
    while (p < end) {
        if (end - p >= 32) {
            uint64_t words[4];
            std::memcpy(words, p, 32);
            if (((words[0] | words[1] | words[2] | words[3]) & 0x8080808080808080ull) == 0) {
                p += 32;
                continue;
            }
        }
        if (end - p >= 8) {
            uint64_t word;
            std::memcpy(&word, p, 8);
            if ((word & 0x8080808080808080ull) == 0) {
                p += 8;
                continue;
            }
        }
        char32_t cp;
        const int n = validSequence(p, end, &cp);
        if (n == 0)
            return p;
        p += n;
    }
    return end;
}

bool isValidUtf8(QByteArrayView bytes)
{
    const auto p = reinterpret_cast<const unsigned char*>(bytes.data());
    const auto end = p + bytes.size();
    // A big text is checked in two halves at once, split at an ASCII byte,
    // which no sequence holds: each half is valid exactly when the whole is.
    constexpr qsizetype kTwoCoresFrom = qsizetype(16) << 20;
    const unsigned char* middle = p + bytes.size() / 2;
    while (bytes.size() >= kTwoCoresFrom && middle < end && *middle >= 0x80)
        ++middle;
    if (bytes.size() < kTwoCoresFrom || middle == end || std::thread::hardware_concurrency() < 2)
        return validUtf8End(p, end) == end;
    bool laterValid = false;
    std::thread later([&] { laterValid = validUtf8End(middle, end) == end; });
    const bool earlierValid = validUtf8End(p, middle) == middle;
    later.join();
    return earlierValid && laterValid;
}

} // namespace

QByteArrayView withoutByteOrderMarks(QByteArrayView bytes)
{
    while (bytes.startsWith("\xEF\xBB\xBF"))
        bytes = bytes.sliced(3);
    return bytes;
}

QString decodeText(QByteArrayView bytes)
{
    bytes = withoutByteOrderMarks(bytes);
    QString out;
    out.reserve(bytes.size());
    auto p = reinterpret_cast<const unsigned char*>(bytes.data());
    const auto end = p + bytes.size();
    while (p < end) {
        if (*p < 0x80) {
            out.append(QChar(char16_t(*p++)));
            continue;
        }
        char32_t cp;
        const int n = validSequence(p, end, &cp);
        if (n == 0) {
            out.append(QChar(cp1252(*p++)));
        } else {
            out.append(QChar::fromUcs4(cp));
            p += n;
        }
    }
    return out;
}

QByteArray toValidUtf8(QByteArray bytes, bool validUtf8)
{
    bytes.remove(0, bytes.size() - withoutByteOrderMarks(bytes).size());
    if (validUtf8 || isValidUtf8(bytes))
        return bytes;
    return decodeText(bytes).toUtf8();
}

void Utf8Check::check(QByteArrayView text, bool complete)
{
    if (!valid_)
        return;
    const auto begin = reinterpret_cast<const unsigned char*>(text.data());
    const auto end = begin + text.size();
    const auto stop = validUtf8End(begin + checked_, end);
    checked_ = stop - begin;
    // a sequence cut off at the end may go on in the bytes still to come
    valid_ = stop == end || (!complete && end - stop < 4);
}

QStringList splitListLines(QStringView text)
{
    const qsizetype stop = text.indexOf(QChar(26));
    return splitLines(stop >= 0 ? text.first(stop) : text);
}

QStringList splitLines(QStringView text)
{
    QStringList lines;
    qsizetype start = 0;
    const qsizetype n = text.size();
    for (qsizetype i = 0; i < n; ++i) {
        const QChar c = text[i];
        if (c == u'\r' || c == u'\n') {
            lines.append(text.sliced(start, i - start).toString());
            if (c == u'\r' && i + 1 < n && text[i + 1] == u'\n')
                ++i;
            start = i + 1;
        }
    }
    if (start < n)
        lines.append(text.sliced(start).toString());
    return lines;
}

bool readListFile(const QString& path, QStringList* lines, bool* exists, QString* error)
{
    lines->clear();
    QFileInfo info(path);
    *exists = info.exists();
    if (!*exists)
        return true;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = file.errorString();
        return false;
    }
    const QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError) {
        *error = file.errorString();
        return false;
    }
    *lines = splitListLines(decodeText(bytes));
    return true;
}

} // namespace og
