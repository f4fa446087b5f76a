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

void appendShellWord(LineBlock& block, QByteArrayView utf8)
{
    const QByteArrayView value = bytes::trimmed(utf8);
    if (isPlainWord(value))
        block.appendToLine(value);
    else
        block.appendToLine(shellWord(value));
}

QByteArray shellWord(QByteArrayView utf8)
{
    const QByteArrayView value = bytes::trimmed(utf8);
    if (isPlainWord(value))
        return value.toByteArray();
    QByteArray quoted;
    quoted.reserve(value.size() + 8);
    quoted.append('\'');
    for (char c : value) {
        if (c == '\'')
            quoted.append("'\\''");
        else
            quoted.append(c);
    }
    quoted.append('\'');
    return quoted;
}

} // namespace og
