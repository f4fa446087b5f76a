#include "cli/ServerCommands.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

#include <dlfcn.h>

namespace og::cli {

namespace {

// Where the module lies: beside the program in the build tree, in the
// program's own folder of the library directory when installed.
QStringList modulePaths()
{
    const QString name = QStringLiteral(OG_SERVER_COMMANDS_MODULE);
    const QDir here(QCoreApplication::applicationDirPath());
    return {here.filePath(name), QDir::cleanPath(here.filePath(QStringLiteral(OG_SERVER_COMMANDS_INSTALLED)))};
}

} // namespace

std::span<const Command* const> serverCommands(QString* error)
{
    static QString failure;
    static const std::span<const Command* const> commands = [] {
        QStringList tried;
        for (const QString& path : modulePaths()) {
            if (!QFileInfo::exists(path)) {
                tried.append(path);
                continue;
            }
            void* module = ::dlopen(QFile::encodeName(path).constData(), RTLD_NOW | RTLD_LOCAL);
            if (!module) {
                failure = QStringLiteral("cannot load %1: %2").arg(path, QString::fromLocal8Bit(::dlerror()));
                return std::span<const Command* const>();
            }
            // kept loaded until the program ends: its commands are in use
            if (const auto list = reinterpret_cast<ServerCommandsFunction>(::dlsym(module, kServerCommandsSymbol))) {
                size_t count = 0;
                const Command* const* first = list(&count);
                return std::span<const Command* const>(first, count);
            }
            failure = QStringLiteral("%1 is not the module of this program").arg(path);
            return std::span<const Command* const>();
        }
        failure = QStringLiteral("the module of send, login, publish and bounces is missing: looked for %1")
                      .arg(tried.join(QStringLiteral(", ")));
        return std::span<const Command* const>();
    }();
    if (commands.empty() && error)
        *error = failure + QStringLiteral("; install Ordergate again");
    return commands;
}

} // namespace og::cli
