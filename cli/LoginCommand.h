#pragma once
#include "cli/Command.h"

namespace og::cli {

// ordergate-cli login [--user NAME] [--dir DIR] [--oauth-provider microsoft|google|custom]
//     [--client-id ID] [--client-secret-file FILE] [--auth-url URL --token-url URL --scope TEXT]
//     [--no-browser]
//
// Signs in at the mail provider in the browser and keeps the refresh token
// in the desktop keyring, where send finds it.
extern const Command loginCommand;

} // namespace og::cli
