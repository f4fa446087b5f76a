#pragma once
// The batch file MakePass.ksh, written in one place: the preamble, an
// htpasswd line for each account event that makes an account, the test
// account, the modes and the self-removal. Every line ends with CR LF.

#include "orders/AccountEvents.h"
#include "orders/LineBlock.h"
#include "orders/Options.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

class QIODevice;

namespace og {

inline QString batchFileName()
{
    return QStringLiteral("MakePass.ksh");
}

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

    // "echo batch file for product: " and the product.
    void preamble(QStringView product);
    // The account line of an event that makes one. The first account line
    // of the file, whatever its source, creates .htpasswd anew (-bc).
    void account(const AccountEvent& event)
    {
        if (event.makesAccount())
            passwordLine(event.user, event.password);
    }
    // The options' test account, when it has a user and a password; counted
    // in no statistics line.
    void testAccount(const Options& options);
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
};

// A value for the batch file: trimmed; written as it is when made only of
// A-Z a-z 0-9 @ % + , . / : = _ -, otherwise in single quotes.
QByteArray shellWord(QByteArrayView utf8);
// Appends shellWord(utf8) to the line being built.
void appendShellWord(LineBlock& block, QByteArrayView utf8);

} // namespace og
