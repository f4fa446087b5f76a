#pragma once
// The subcommands that reach servers (send, login, publish, bounces) live in
// a module of their own, loaded when one of them runs: make, which runs far
// more often and on big reports, then starts without the mail, network and
// keyring libraries (with them 73 shared libraries and about 40 ms a start
// on a virtual machine, without them 18 and 11 ms).

#include "cli/Command.h"

#include <QString>
#include <cstddef>
#include <span>

namespace og::cli {

// The name of the function the module exports.
inline constexpr const char* kServerCommandsSymbol = "ordergateServerCommands";
// Its type: the module's commands, in the order of the overview, and their
// count.
using ServerCommandsFunction = const Command* const* (*)(size_t* count);

// The module's commands, loaded once. Empty, with error set, when the module
// is missing or cannot be loaded.
std::span<const Command* const> serverCommands(QString* error);

} // namespace og::cli
