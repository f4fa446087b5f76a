#pragma once
#include "cli/Command.h"

#include "cli/LoginOptions.h"
#include "cli/MessageOptions.h"
#include "mailer/MailerSettings.h"

#include <optional>

namespace og::cli {

// ordergate-cli send ADDRESSFILE --subject TEXT --body-file FILE [--attach FILE]...
//     [--signature FILE] [--from ADDR] [--org TEXT] [--server HOST[:PORT]]
//     [--no-copy] [--no-log] [--dir DIR] [--security auto|starttls|tls|none]
//     [--user NAME] [--password-file FILE] [--ca-file FILE] [--tls-fingerprint SHA256]
//     [--no-verify] [--helo NAME] [--timeout SECONDS] [--resume | --start-over]
//     [--dry-run DIR] [--rate N] [--connections N] [--retries N] [--retry-delay SECONDS]
//     [--per-connection N] [--auth
//     password|oauth2|command]
//     [--token-command CMD] [--oauth-provider microsoft|google|custom] [--client-id ID]
//     [--client-secret-file FILE] [--auth-url URL --token-url URL --scope TEXT] [--no-browser]
//     [--markdown] [--reply-to ADDR] [--auto-submitted] [--unsubscribe URL]...
//
// The password comes from ORDERGATE_SMTP_PASSWORD or --password-file, never
// from a value on the command line, where every user of the machine sees it;
// so does a client secret (--client-secret-file). An OAuth2 login uses the
// sign-in the desktop keyring keeps (ordergate-cli login) or signs in first.
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
    // How to reach the server; checked by the parse, unset when not given.
    std::optional<MailerSettings::Security> security;
    std::optional<int> timeout;
    QString user, passwordFile, caFile, fingerprint, helo;
    bool haveUser = false, haveCaFile = false, haveFingerprint = false, haveHelo = false;
    bool noVerify = false;
    // After a run that did not finish: go on with it, or send to all again.
    bool resume = false, startOver = false;
    bool attachAbsolute = false;          // "{{file}}" alone takes a whole absolute path from the address file
    bool skipMissing = false;             // send to the others when some customers' own attachment is missing
    QString dryRunDir;                    // --dry-run DIR: write .eml files there, send nothing
    QString lists;                        // --lists DIR: the suppression lists' folder (default: working folder)
    bool includeSuppressed = false;       // send to the customers the suppression lists name too
    std::optional<int> rate, connections; // --rate N, --connections N
    QString provider;                     // --provider NAME
    bool haveProvider = false;
    std::optional<int> retries, retryDelay; // --retries N, --retry-delay SECONDS
    std::optional<int> perConnection;       // --per-connection N
    LoginOptions login;                     // --auth, the token command, the OAuth2 application
    MessageOptions message;                 // --markdown and the headers
    bool help = false;
};

// False (with a message in error) for a malformed command line.
bool parseSendArguments(const QStringList& args, SendArguments* out, QString* error);
QString sendHelpText();

} // namespace og::cli
