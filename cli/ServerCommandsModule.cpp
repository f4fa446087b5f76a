// The entry of the module of the subcommands that reach servers
// (cli/ServerCommands.h).

#include "cli/BouncesCommand.h"
#include "cli/LoginCommand.h"
#include "cli/PublishCommand.h"
#include "cli/SendCommand.h"
#include "cli/ServerCommands.h"

#include <iterator>

namespace {

const og::cli::Command* const kCommands[] = {
    &og::cli::sendCommand,
    &og::cli::loginCommand,
    &og::cli::publishCommand,
    &og::cli::bouncesCommand,
};

} // namespace

extern "C" [[gnu::visibility("default")]] const og::cli::Command* const* ordergateServerCommands(size_t* count)
{
    *count = std::size(kCommands);
    return kCommands;
}
