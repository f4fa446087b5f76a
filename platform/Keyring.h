#pragma once

#include <QString>

namespace og {

// The desktop keyring (Secret Service, KWallet): one secret per key, the
// login passwords and the mail providers' refresh tokens alike. It needs no
// windows, so the mailer's core can keep a secret through it; the windows
// reach it through Platform, and like every Platform call it is made on the
// GUI thread.
//
// A call may take a while (the keyring may ask the user to unlock it); the
// window keeps answering meanwhile. NoKeyring: there is none to use, so the
// caller asks for the secret each time instead.
class Keyring {
public:
    virtual ~Keyring() = default;

    enum class KeyringStatus { Done, NotFound, NoKeyring, Failed };
    struct KeyringReply {
        KeyringStatus status = KeyringStatus::Failed;
        QString password; // for a read that found one
        QString why;      // for NoKeyring and Failed: the keyring's own reason
    };
    virtual KeyringReply readPassword(const QString& key) = 0;
    virtual KeyringReply writePassword(const QString& key, const QString& password) = 0;
    virtual KeyringReply deletePassword(const QString& key) = 0;
};

} // namespace og
