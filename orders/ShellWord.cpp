#include "orders/ScriptRun.h"
#include "orders/ReportFields.h"

namespace og {

namespace {
bool isPlainWordByte(unsigned char c)
{
    if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9'))
        return true;
    switch (c) {
    case '@': case '%': case '+': case ',': case '.': case '/': case ':': case '=':
    case '_': case '-':
        return true;
    default:
        return false;
    }
}
}  // namespace

// Values reach the batch file from the report and from the vendor's lists,
// and the vendor runs that file on the web server: anything the shell could
// read as more than a plain word goes in single quotes.
QByteArray shellWord(QByteArrayView utf8)
{
    const QByteArrayView value = bytes::trimmed(utf8);
    bool plain = true;
    for (char c : value) {
        if (!isPlainWordByte(static_cast<unsigned char>(c))) {
            plain = false;
            break;
        }
    }
    if (plain)
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

}  // namespace og
