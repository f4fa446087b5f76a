#pragma once
// One subcommand of ordergate-cli.

#include <QString>
#include <QStringList>

namespace og::cli {

// Exit statuses shared by every subcommand.
enum ExitStatus { ExitOk = 0, ExitFailure = 1, ExitUsage = 2 };

struct Command {
    const char* name;
    const char* summary; // one line for the overview of --help
    // args are the arguments after the subcommand's name
    int (*run)(const QStringList& args);
};

// Writes text to standard error / output (UTF-8).
void printError(const QString& text);
void printOut(const QString& text);

} // namespace og::cli
