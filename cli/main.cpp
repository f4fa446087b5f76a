// ordergate-cli: the jobs of Ordergate without windows.

#include "cli/Command.h"
#include "cli/LayoutsCommand.h"
#include "cli/MakeCommand.h"
#include "cli/ServerCommands.h"
#include "orders/HeapBounds.h"
#include "platform/VersionInfo.h"

#include <QCoreApplication>

#include <csignal>

namespace {

using og::cli::Command;

// The subcommands of the program itself, one line each; those that reach
// servers come from their module (cli/ServerCommands.h).
const Command* const kCommands[] = {
    &og::cli::makeCommand,
    &og::cli::layoutsCommand,
};

QString commandLine(const Command* c)
{
    return QStringLiteral("  %1  %2\n").arg(QString::fromUtf8(c->name), -7).arg(QString::fromUtf8(c->summary));
}

QString overview()
{
    QString text = QStringLiteral("Usage: ordergate-cli COMMAND [ARGUMENTS...]\n"
                                  "       ordergate-cli COMMAND --help\n"
                                  "       ordergate-cli --version\n"
                                  "\n"
                                  "Commands:\n");
    for (const Command* c : kCommands)
        text += commandLine(c);
    QString missing;
    for (const Command* c : og::cli::serverCommands(&missing))
        text += commandLine(c);
    if (!missing.isEmpty())
        text += QStringLiteral("  (%1)\n").arg(missing);
    text += QStringLiteral("\n"
                           "Exit status: 0 on success, 1 on failure (message on standard error),\n"
                           "2 for a malformed command line, 3 when send went to its end but some\n"
                           "customers were refused, deferred, not sent or not known.\n");
    return text;
}

} // namespace

int main(int argc, char** argv)
{
    // A reader of standard output that stops early (`send ... | head`) must
    // not kill a send in the middle of a customer: the write fails instead,
    // and printOut goes on without it.
    std::signal(SIGPIPE, SIG_IGN);
    og::mapBigBlocksAlone();
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("Ordergate"));
    QStringList args = QCoreApplication::arguments();
    args.removeFirst();
    if (args.isEmpty()) {
        og::cli::printError(overview());
        return int(og::cli::ExitStatus::Usage);
    }
    const QString name = args.takeFirst();
    if (name == u"--help" || name == u"-h" || name == u"help") {
        og::cli::printOut(overview());
        return int(og::cli::ExitStatus::Ok);
    }
    if (name == u"--version") {
        og::cli::printOut(QStringLiteral("ordergate-cli %1\n").arg(QLatin1String(OG_VERSION_PRODUCT_VERSION)));
        return int(og::cli::ExitStatus::Ok);
    }
    for (const Command* c : kCommands) {
        if (name == QString::fromUtf8(c->name))
            return int(c->run(args));
    }
    for (const Command* c : og::cli::serverCommands(nullptr)) {
        if (name == QString::fromUtf8(c->name))
            return int(c->run(args));
    }
    og::cli::printError(QStringLiteral("ordergate-cli: unknown command \"%1\"\n\n").arg(name) + overview());
    return int(og::cli::ExitStatus::Usage);
}
