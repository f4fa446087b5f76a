#pragma once

#include "cli/Command.h"

#include <QStringList>

class QTextStream;

namespace og {

// ordergate-cli send ADDRESSFILE --subject TEXT --body-file FILE [--attach FILE]...
//     [--signature FILE] [--from ADDR] [--org TEXT] [--server HOST[:PORT]]
//     [--no-copy] [--no-log] [--dir DIR]
//
// Sends the notification to every customer of the address file exactly as the
// mailer window does. arguments are those after "send". Status texts go to
// out, a failure's message to err. Returns 0 when every message was sent,
// 1 when a check or a send failed, 2 for a usage error.
int runSendCommand(const QStringList& arguments, QTextStream& out, QTextStream& err);

// The usage lines of the send command.
QString sendCommandUsage();

namespace cli {
// The "send" entry of ordergate-cli's command table.
extern const Command sendCommand;
} // namespace cli

} // namespace og
