#include "orders/BatchFile.h"

#include "orders/ReportFields.h"

#include <QIODevice>

namespace og {

const char* accountValueFaultText(AccountValueFault fault)
{
    switch (fault) {
    case AccountValueFault::None:
        break;
    case AccountValueFault::ControlCharacter:
        return "a control character";
    case AccountValueFault::OuterBlank:
        return "a blank at the start or end of a value";
    case AccountValueFault::UserRefused:
        return "a user name htpasswd refuses";
    case AccountValueFault::PasswordRefused:
        return "a password htpasswd refuses or of blanks alone";
    }
    return "";
}

void BatchFile::preamble(QStringView product)
{
    lines_.beginLine();
    lines_.appendToLine("echo batch file for product: ");
    appendShellWord(lines_, QByteArrayView(product.toUtf8()));
    lines_.endLine();
    for (const char* line : kBinaryUploadGuard)
        lines_.append(QByteArrayView(line));
}

void BatchFile::passwordLine(QByteArrayView user, QByteArrayView password)
{
    if (bcrypt_ && bytes::trimmed(user).size() > kMaxBcryptUserBytes) {
        ++tooLong_; // htpasswd would refuse it, and on the first line every account
        return;
    }
    // The server's default hash keeps the lines of every earlier version.
    // Hidden, the password reaches htpasswd on its standard input from ksh's
    // built-in printf, so no process's arguments ever hold it.
    const char* hash = bcrypt_ ? "B -C 10" : "";
    lines_.beginLine();
    if (hidden_) {
        lines_.appendToLine("printf '%s\\n' ");
        appendShellWord(lines_, password);
        lines_.appendToLine(first_ ? " | htpasswd -ic" : " | htpasswd -i");
        lines_.appendToLine(hash);
        lines_.appendToLine(" .htpasswd ");
        appendShellWord(lines_, user);
    } else {
        lines_.appendToLine(first_ ? "htpasswd -bc" : "htpasswd -b");
        lines_.appendToLine(hash);
        lines_.appendToLine(" .htpasswd ");
        appendShellWord(lines_, user);
        lines_.appendToLine(" ");
        appendShellWord(lines_, password);
    }
    lines_.endLine();
    first_ = false;
    if (sink_ && lines_.fileSize() >= kChunk)
        flush();
}

bool BatchFile::testAccount(const Options& options)
{
    if (options.user.isEmpty() || options.passwd.isEmpty())
        return true;
    // judged as the vendor gave them: the batch file's trimming would
    // make a value with a control character at its end another one
    const QByteArray user = options.user.toUtf8(), password = options.passwd.toUtf8();
    if (accountValueFault(user, password) != AccountValueFault::None)
        return false;
    passwordLine(user, password);
    return true;
}

void BatchFile::closing(const Options& options)
{
    // The modes and the mask are the vendor's own options: written as typed.
    lines_.append(QByteArrayView(("chmod " + options.chmodPasswd + " .htpasswd").toUtf8()));
    lines_.append(QByteArrayView(("chmod " + options.chmodProtect + " " + options.Pmask).toUtf8()));
    lines_.append(QByteArrayView(("chmod " + options.chmodAccess + " .htaccess").toUtf8()));
    lines_.append(QByteArrayView(("rm " + batchFileName()).toUtf8()));
}

void BatchFile::flush()
{
    if (!sink_ || lines_.isEmpty())
        return;
    if (!lines_.writeTo(*sink_))
        failed_ = true;
    lines_.reuse();
}

} // namespace og
