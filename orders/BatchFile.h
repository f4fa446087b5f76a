#pragma once
// The batch file MakePass.ksh, written in one place: the preamble, an
// htpasswd line for each account event that makes an account, the test
// account, the modes and the self-removal. Every line ends with CR LF, which
// an ASCII upload makes LF; after a binary upload the file stops at its
// second line, before any account, and removes itself.

#include "orders/AccountEvents.h"
#include "orders/ByteWords.h"
#include "orders/LineBlock.h"
#include "orders/Options.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <cstdint>

class QIODevice;

namespace og {

inline QString batchFileName()
{
    return QStringLiteral("MakePass.ksh");
}

// The two lines after the echo line that stop the file when its lines still
// end in CR LF on the server (a binary upload), where every password would
// end in a CR and no chmod or rm would find its file: the first line then
// sets the variable to a CR, and the second, whose comment takes its own CR,
// says why, removes the file and exits before any account is made.
inline constexpr const char* kBinaryUploadGuard[] = {
    "binaryUpload=",
    "[ -z \"$binaryUpload\" ] || { echo \"MakePass.ksh was uploaded in binary mode (CR LF line ends):"
    " nothing done, file removed; upload it again in ASCII mode\" >&2; rm MakePass.ksh; exit 1; }"
    " # stops a binary upload",
};

// What htpasswd (Apache 2.4) takes, found by trying it: a user name without
// ":" that does not start with "#" (the line would be a comment: the account
// is written but never found) and whose record (name, ":" and the 37-byte
// hash) stays under 255 bytes; a password of at most 255 bytes. A line it
// refuses loses that account, and when it is the first (-bc) every account.
constexpr qsizetype kMaxUserBytes = 216;
constexpr qsizetype kMaxPasswordBytes = 255;
// A bcrypt hash takes 60 bytes: its record has room for a shorter name.
constexpr qsizetype kMaxBcryptUserBytes = 193;
// Both take the value as the batch file writes it, trimmed.
inline bool htpasswdTakesUser(QByteArrayView user)
{
    return user.size() <= kMaxUserBytes && !user.contains(':') && !user.startsWith('#');
}
inline bool htpasswdTakesPassword(QByteArrayView password)
{
    return password.size() <= kMaxPasswordBytes;
}

// The one rule for the values of an account, wherever they come from (the
// report, the ledger, goodguys.txt, the options' test account), applied to
// the value as it reaches the batch file: no control character (a zero byte
// stops ksh with every password left on the server, a line break or Ctrl-Z
// splits the account line), no blank or control character at either end (the
// batch file's trimming would make it another user's line), a user htpasswd
// takes (see above) and a password that is not blanks alone. An empty
// password is the caller's to judge (a ledger may not know one).
enum class AccountValueFault : uint8_t { None, ControlCharacter, OuterBlank, UserRefused, PasswordRefused };
inline AccountValueFault accountValueFault(QByteArrayView user, QByteArrayView password)
{
    const auto control = [](QByteArrayView value) {
        return words::anyByte(
            value.data(), size_t(value.size()), [](uint64_t w) { return words::control(w) | words::equal(w, '\t'); },
            [](unsigned char c) { return c < 0x20 || c == 0x7f; });
    };
    const auto outerBlank = [](QByteArrayView value) {
        return !value.isEmpty() &&
            (static_cast<unsigned char>(value.front()) <= 32 || static_cast<unsigned char>(value.back()) <= 32);
    };
    if (control(user) || control(password))
        return AccountValueFault::ControlCharacter;
    // (control characters are out: only blanks are left at or below 32)
    if (!password.isEmpty() && password.count(' ') == password.size())
        return AccountValueFault::PasswordRefused;
    if (outerBlank(user) || outerBlank(password))
        return AccountValueFault::OuterBlank;
    if (user.isEmpty() || !htpasswdTakesUser(user))
        return AccountValueFault::UserRefused;
    if (!htpasswdTakesPassword(password))
        return AccountValueFault::PasswordRefused;
    return AccountValueFault::None;
}
// "a control character", ... for the notes that name a skipped value.
const char* accountValueFaultText(AccountValueFault fault);

class BatchFile {
public:
    static constexpr qsizetype kChunk = 4 << 20;

    // The lines go to lines; with a sink they go out to it every few
    // megabytes instead of staying there.
    BatchFile(LineBlock& lines, QIODevice* sink)
        : lines_(lines),
          sink_(sink)
    {
    }

    // How the account lines are written (Options::passhash and
    // hidepasswords); before the first line.
    void setAccountLines(const Options& options)
    {
        bcrypt_ = options.bcrypt();
        hidden_ = options.hidepasswords;
    }
    // "echo batch file for product: " and the product.
    void preamble(QStringView product);
    // The account line of an event that makes one. The first account line
    // of the file, whatever its source, creates .htpasswd anew (-bc).
    void account(const AccountEvent& event)
    {
        if (event.makesAccount())
            passwordLine(event.user, event.password);
    }
    // An account of an earlier run kept for its customer; the caller checked
    // that htpasswd takes its values.
    void keptAccount(QByteArrayView user, QByteArrayView password) { passwordLine(user, password); }
    // Accounts left out because their name is too long for a bcrypt record.
    qsizetype tooLongForBcrypt() const { return tooLong_; }
    // The options' test account, when it has a user and a password that
    // htpasswd takes; counted in no statistics line. False when htpasswd
    // would refuse it, and no line was written.
    bool testAccount(const Options& options);
    // The three chmod lines with the options' modes and mask, and the line
    // by which the file removes itself.
    void closing(const Options& options);

    // Sends what is left to the sink.
    void flush();
    bool failed() const { return failed_; }

private:
    void passwordLine(QByteArrayView user, QByteArrayView password);

    LineBlock& lines_;
    QIODevice* sink_;
    bool first_ = true;
    bool failed_ = false;
    bool bcrypt_ = false;
    bool hidden_ = false;
    qsizetype tooLong_ = 0;
};

// A value for the batch file: trimmed; written as it is when made only of
// A-Z a-z 0-9 @ % + , . / : = _ -, otherwise in single quotes.
QByteArray shellWord(QByteArrayView utf8);
// Appends shellWord(utf8) to the line being built.
void appendShellWord(LineBlock& block, QByteArrayView utf8);

} // namespace og
