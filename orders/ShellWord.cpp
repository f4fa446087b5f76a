#include "orders/BatchFile.h"
#include "orders/ReportFields.h"

namespace og {

namespace {
struct PlainBytes {
    bool plain[256] = {};
    constexpr PlainBytes()
    {
        for (int c = 'A'; c <= 'Z'; ++c)
            plain[c] = plain[c + 32] = true;
        for (int c = '0'; c <= '9'; ++c)
            plain[c] = true;
        for (unsigned char c : {'@', '%', '+', ',', '.', '/', ':', '=', '_', '-'})
            plain[c] = true;
    }
};
constexpr PlainBytes kPlain;

inline bool isPlainWordByte(unsigned char c)
{
    return kPlain.plain[c];
}
} // namespace

// Values reach the batch file from the report and from the vendor's lists,
// and the vendor runs that file on the web server: anything the shell could
// read as more than a plain word goes in single quotes.
bool isPlainWord(QByteArrayView value)
{
    for (char c : value) {
        if (!isPlainWordByte(static_cast<unsigned char>(c)))
            return false;
    }
    return true;
}

namespace {
// A value in single quotes, each quote in it closing them, escaped and
// opening them again, given to append piece by piece.
template <typename Append>
void quotedWord(QByteArrayView value, Append append)
{
    append(QByteArrayView("'", 1));
    qsizetype from = 0;
    for (qsizetype quote; (quote = value.indexOf('\'', from)) >= 0; from = quote + 1) {
        append(value.sliced(from, quote - from));
        append(QByteArrayView("'\\''", 4));
    }
    append(value.sliced(from));
    append(QByteArrayView("'", 1));
}
} // namespace

void appendShellWord(LineBlock& block, QByteArrayView utf8)
{
    const QByteArrayView value = bytes::trimmed(utf8);
    if (isPlainWord(value))
        block.appendToLine(value);
    else
        quotedWord(value, [&](QByteArrayView piece) { block.appendToLine(piece); });
}

QByteArray shellWord(QByteArrayView utf8)
{
    const QByteArrayView value = bytes::trimmed(utf8);
    if (isPlainWord(value))
        return value.toByteArray();
    QByteArray quoted;
    quoted.reserve(value.size() + 8);
    quotedWord(value, [&](QByteArrayView piece) { quoted.append(piece); });
    return quoted;
}

} // namespace og
