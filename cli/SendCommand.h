#pragma once
#include "cli/Command.h"

namespace og::cli {

// ordergate-cli send ADDRESSFILE --subject TEXT --body-file FILE [--attach FILE]...
//     [--signature FILE] [--from ADDR] [--org TEXT] [--server HOST[:PORT]]
//     [--no-copy] [--no-log] [--dir DIR]
//
// Sends the notification to every customer of the address file exactly as the
// mailer window does.
extern const Command sendCommand;

// The parsed command line of send; public for the tests.
struct SendArguments {
    QString addressFile;
    QString subject;
    QString bodyFile;
    QStringList attachments;
    QString signature;
    QString from, org, server, dir; // empty when not given (see the flags)
    bool haveFrom = false, haveOrg = false, haveServer = false;
    bool noCopy = false, noLog = false;
    bool help = false;
};

// False (with a message in error) for a malformed command line.
bool parseSendArguments(const QStringList& args, SendArguments* out, QString* error);
QString sendHelpText();

} // namespace og::cli
