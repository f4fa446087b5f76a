#pragma once
#include "cli/Command.h"

namespace og::cli {

// ordergate-cli bounces [--server HOST[:PORT]] [--security auto|starttls|tls|none]
//     [--user NAME] [--password-file FILE] [--auth password|oauth2|command] [--token-command CMD]
//     [OAuth2 application options as send] [--folder NAME]... [--since YYYY-MM-DD]
//     [--dir DIR] [--lists DIR] [--ca-file FILE] [--no-verify] [--timeout SECONDS]
//
// Reads the vendor's mailbox for what came back from the notifications
// (mailbox/BounceCheck.h), prints it, and adds the addresses to suppress to
// the lists folder's bounced.txt and unsubscribed.txt. The [mailbox]
// section of the settings file gives what is not given here; the password
// comes from ORDERGATE_IMAP_PASSWORD, --password-file or the desktop
// keyring, never from the command line.
extern const Command bouncesCommand;

} // namespace og::cli
