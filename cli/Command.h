#pragma once
// One subcommand of ordergate-cli.

#include <QString>
#include <QStringList>

namespace og::cli {

// The exit status of every subcommand.
enum class ExitStatus : int {
    Ok = 0,      // done as asked
    Failure = 1, // a failure ended the job; its message is on standard error
    Usage = 2,   // a malformed command line
    Partly = 3,  // the job ran to its end, but some of it was not done (customers not sent)
};

struct Command {
    const char* name;
    const char* summary; // one line for the overview of --help
    // args are the arguments after the subcommand's name
    ExitStatus (*run)(const QStringList& args);
};

// Writes text to standard error / output (UTF-8). A failed write to
// standard output (its reader has gone) is noted once on standard error and
// is no failure of the job.
// Control characters other than line ends and tabs are shown as \\xNN.
void printError(const QString& text);
void printOut(const QString& text);

// "ordergate-cli NAME: reason", a blank line and the usage text on standard
// error; returns ExitStatus::Usage.
ExitStatus usageError(const Command& command, const QString& reason, const QString& usage);

} // namespace og::cli
