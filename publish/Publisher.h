#pragma once
// A publish: the accounts of a product's last run (its ledger, and the
// test account as the batch file makes it) brought to the web server's
// protected folder over SSH, then checked by logging in. Shared by the
// results window and ordergate-cli publish.
//
// On the server: the new .htpasswd is written as .htpasswd.tmp-XXXXXXXX in
// the folder, its mode set, the old file's bytes kept as .htpasswd.previous,
// and the new one renamed over .htpasswd in one step; a connection lost on
// the way leaves the old .htpasswd in place (a left temporary file is
// removed by the next publish). Hashes are made here; no password crosses
// to the server, on a command line or otherwise.

#include "orders/Options.h"
#include "publish/HtpasswdFile.h"
#include "publish/LoginCheck.h"
#include "publish/PublishSettings.h"

#include <QString>
#include <QStringList>

#include <functional>

namespace og {

enum class PublishMode : uint8_t {
    Publish,
    DryRun, // reads the server's file and counts; changes nothing
    Undo,   // puts .htpasswd.previous back (and keeps the undone file as the previous)
};

struct PublishRequest {
    PublishSettings settings;
    Options options;       // the chmod modes, the test account, the "Password hash" option
    QString programFolder; // ends in "/": the ledger of product is there
    QString product;
    PublishMode mode = PublishMode::Publish;
    // The SSH password, asked only when the agent and the key file did not
    // log in (the keyring's, or a file's). May be empty.
    std::function<QString()> password;
    QString acceptedFingerprint; // see SshTarget
    // New and changed accounts the login check tries (spread over them);
    // 0: every account of the new file.
    int checkSample = 5;
    int timeoutSeconds = 30;
    // Called between the upload and the rename (tests drop the connection there).
    std::function<void()> beforeReplace;
};

struct PublishResult {
    PublishMode mode = PublishMode::Publish;
    QString where; // user@host:port and the folder
    PublishCounts counts;
    qsizetype skipped = 0;     // ledger accounts without a password, or that htpasswd refuses
    bool firstPublish = false; // there was no .htpasswd
    qsizetype modesSet = 0;    // protected files given the protected mode
    bool checked = false;      // a download address was there
    std::vector<LoginOutcome> checks;

    qsizetype failedChecks() const;
    // What happened, for people: one line each, no password.
    QStringList lines() const;
};

// Throws PublishError (UnknownHostKey for a host key not yet known);
// nothing on the server has changed then unless the message says so.
PublishResult publish(const PublishRequest& request);

// The accounts the product's last batch file made: the ledger (or, without
// one, the address file), then the test account. Accounts without a
// password or that htpasswd refuses are left out and counted in skipped.
// Throws PublishError when there is nothing to publish.
std::vector<PublishAccount> accountsToPublish(
    const QString& programFolder, const QString& product, const Options& options, qsizetype* skipped);

// A chmod mode as the options hold it ("644"): three or four octal digits.
// -1 for anything else.
int parseMode(const QString& text);

} // namespace og
