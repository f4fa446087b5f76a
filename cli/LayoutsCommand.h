#pragma once
#include "cli/Command.h"

namespace og::cli {

// ordergate-cli layouts [--dir DIR]: the saved and built-in layouts of
// reports with a header row, with their columns.
extern const Command layoutsCommand;

} // namespace og::cli
