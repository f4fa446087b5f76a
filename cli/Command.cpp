#include "cli/Command.h"

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>

namespace og::cli {

namespace {

// What is printed holds values from address files and servers: a control
// character in one (an escape sequence) would steer the terminal, so each
// is shown as \xNN. Line ends and tabs are the program's own layout.
QByteArray terminalText(const QString& text)
{
    QString out;
    out.reserve(text.size());
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        if ((u < 0x20 && u != u'\n' && u != u'\t') || (u >= 0x7f && u < 0xa0))
            out += QStringLiteral("\\x%1").arg(int(u), 2, 16, QLatin1Char('0'));
        else
            out += c;
    }
    return out.toUtf8();
}

} // namespace

void printError(const QString& text)
{
    const QByteArray bytes = terminalText(text);
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stderr);
    std::fflush(stderr);
}

void printOut(const QString& text)
{
    const QByteArray bytes = terminalText(text);
    const bool written = std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stdout) == size_t(bytes.size()) &&
        std::fflush(stdout) == 0;
    // Results that cannot be written never end a job (a send run stopped
    // half-way would leave customers in doubt); said once, on the send
    // run's threads too.
    static std::atomic_flag noted = ATOMIC_FLAG_INIT;
    if (!written && !noted.test_and_set())
        printError(QStringLiteral("ordergate-cli: standard output cannot be written (%1); going on without it\n")
                       .arg(QString::fromLocal8Bit(std::strerror(errno))));
}

ExitStatus usageError(const Command& command, const QString& reason, const QString& usage)
{
    printError(QStringLiteral("ordergate-cli %1: %2\n\n").arg(QString::fromUtf8(command.name), reason) + usage);
    return ExitStatus::Usage;
}

} // namespace og::cli
