#pragma once
// The one trimming rule of the program's files and fields: every character
// whose code is 32 or less goes from both ends (control characters too, as
// the old Windows program's Trim did), not just what Unicode calls blank.

#include <QByteArrayView>
#include <QString>
#include <QStringView>

namespace og {

inline QStringView trimmedView(QStringView t)
{
    qsizetype b = 0, e = t.size();
    while (b < e && t[b].unicode() <= 32)
        ++b;
    while (e > b && t[e - 1].unicode() <= 32)
        --e;
    return t.sliced(b, e - b);
}

inline QByteArrayView trimmedView(QByteArrayView t)
{
    qsizetype b = 0, e = t.size();
    while (b < e && static_cast<unsigned char>(t[b]) <= 32)
        ++b;
    while (e > b && static_cast<unsigned char>(t[e - 1]) <= 32)
        --e;
    return t.sliced(b, e - b);
}

inline QString trimmed(QStringView text)
{
    return trimmedView(text).toString();
}

namespace bytes {
// The same on UTF-8 bytes; a view into text.
inline QByteArrayView trimmed(QByteArrayView text)
{
    return trimmedView(text);
}
} // namespace bytes

} // namespace og
