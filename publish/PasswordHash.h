#pragma once
// The hashes of the .htpasswd lines made here, on the vendor's machine, so
// no password reaches the server: Apache's MD5 ($apr1$, htpasswd's
// default) through APR's own function, bcrypt ($2y$) and SHA-512 crypt
// ($6$) through libcrypt. Apache on Linux takes all three.

#include "common/WordTable.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <cstdint>
#include <optional>

namespace og {

enum class HashKind : uint8_t { Md5, Bcrypt, Sha512 };

// The words of the settings file and the command line.
inline constexpr EnumWord<HashKind> kHashWords[] = {
    {HashKind::Md5, "md5"},
    {HashKind::Bcrypt, "bcrypt"},
    {HashKind::Sha512, "sha512"},
};

// bcrypt's cost, as the batch file's htpasswd -B -C 10.
constexpr int kBcryptCost = 10;

// A new hash of password with a random salt. Throws PublishError when the
// library cannot make one (no randomness, a password with a NUL byte).
QByteArray makeHash(HashKind kind, QByteArrayView password);

// The kind of an .htpasswd hash, if it is one of the three.
std::optional<HashKind> hashKindOf(QByteArrayView hash);

// Whether hash is password's. False for a hash this program cannot check
// (another kind than the three): the account is then made anew.
bool hashMatches(QByteArrayView hash, QByteArrayView password);

} // namespace og
