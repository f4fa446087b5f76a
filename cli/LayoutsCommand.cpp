#include "cli/LayoutsCommand.h"

#include "cli/Arguments.h"
#include "common/ProgramFolder.h"
#include "orders/SavedLayouts.h"

#include <QFileInfo>

namespace og::cli {

namespace {

QString helpText()
{
    return QStringLiteral("Usage: ordergate-cli layouts [--dir DIR]\n"
                          "\n"
                          "Lists the layouts of reports with a header row: those saved as [layout NAME]\n"
                          "sections of ordergate.ini (tried first), then the built-in ones, each with\n"
                          "the header names of its columns. make --layout NAME takes one of them.\n"
                          "\n"
                          "  --dir DIR   the program folder whose ordergate.ini is read; without it,\n"
                          "              the folder of this executable.\n"
                          "  -h, --help  show this text.\n");
}

void print(const HeaderRowLayout& layout, const QString& kind)
{
    QString text = layout.name + QStringLiteral(" (") + kind + QStringLiteral(")\n");
    for (const QString& line : layoutDescription(layout))
        text += QStringLiteral("  ") + line + u'\n';
    printOut(text);
}

ExitStatus run(const QStringList& args)
{
    QString dir, error;
    ArgumentParser parser;
    parser.value(QStringLiteral("--dir"), &dir);
    if (!parser.parse(args, &error))
        return usageError(layoutsCommand, error, helpText());
    if (parser.helpAsked()) {
        printOut(helpText());
        return ExitStatus::Ok;
    }
    QString folder = programFolder();
    if (!dir.isEmpty()) {
        const QFileInfo info(dir);
        if (!info.isDir()) {
            printError(QStringLiteral("ordergate-cli layouts: the folder %1 does not exist\n").arg(dir));
            return ExitStatus::Failure;
        }
        folder = info.absoluteFilePath() + u'/';
    }
    for (const HeaderRowLayout& layout : loadSavedLayouts(settingsPathIn(folder)))
        print(layout, QStringLiteral("saved"));
    for (const HeaderRowLayout& layout : storeLayouts())
        print(layout, QStringLiteral("built-in"));
    return ExitStatus::Ok;
}

} // namespace

const Command layoutsCommand = {
    "layouts",
    "list the layouts of reports with a header row and their columns",
    &run,
};

} // namespace og::cli
