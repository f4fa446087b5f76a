#pragma once
// The .htpasswd of the protected folder, read as Apache's authn_file reads
// it: one "user:hash" a line, the first line of a user counting; blank
// lines and lines starting with "#" are no accounts. What a publish writes:
// one line an account, LF line ends (the server's own).

#include "publish/PasswordHash.h"

#include <QByteArray>
#include <QByteArrayView>

#include <vector>

namespace og {

struct HtpasswdLine {
    QByteArray user, hash;
};

// The accounts of text, each user once (its first line), in file order.
// Text from the server is untrusted: anything is read, nothing is run.
std::vector<HtpasswdLine> parseHtpasswd(QByteArrayView text);
QByteArray writeHtpasswd(const std::vector<HtpasswdLine>& lines);

// An account to be on the server.
struct PublishAccount {
    QByteArray user, password;
};

struct PublishCounts {
    qsizetype added = 0;    // not on the server
    qsizetype changed = 0;  // on it, but its password no longer verifies
    qsizetype removed = 0;  // on it, and not among the accounts
    qsizetype kept = 0;     // on it with the same password
    qsizetype rehashed = 0; // of the kept, made anew in the chosen hash
    qsizetype total = 0;    // the accounts of the new file
};

// The new file's text and what it changes against the current one.
struct HtpasswdPlan {
    QByteArray file;
    PublishCounts counts;
    // For the login check: who should get in now, who should not.
    std::vector<PublishAccount> added, changed, kept;
    std::vector<QByteArray> removed;
};

// The .htpasswd holding exactly accounts (a user twice: the later password,
// at the first place, as htpasswd keeps it), compared with current. An
// account whose hash on the server still verifies keeps its line unless it
// is of another kind than kind; every other line is hashed anew. The
// hashing (bcrypt: tens of milliseconds an account) runs on every core.
// Throws PublishError when a hash cannot be made.
HtpasswdPlan planHtpasswd(const std::vector<PublishAccount>& accounts, QByteArrayView current, HashKind kind);

} // namespace og
