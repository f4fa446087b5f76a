#include "cli/Command.h"

#include <cstdio>

namespace og::cli {

void printError(const QString& text)
{
    const QByteArray bytes = text.toUtf8();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stderr);
    std::fflush(stderr);
}

void printOut(const QString& text)
{
    const QByteArray bytes = text.toUtf8();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stdout);
    std::fflush(stdout);
}

ExitStatus usageError(const Command& command, const QString& reason, const QString& usage)
{
    printError(QStringLiteral("ordergate-cli %1: %2\n\n").arg(QString::fromUtf8(command.name), reason) + usage);
    return ExitStatus::Usage;
}

} // namespace og::cli
