#pragma once
// The refresh token of a signed-in account, kept in the desktop keyring
// beside the passwords under refreshTokenKey() (provider and user), and
// nowhere else: never in the settings file, the log or a status text.
// Without a keyring the sign-in lasts as long as the program runs, and the
// texts below say so. Keyring calls, so GUI thread only.

#include "mailer/signin/OAuthProvider.h"
#include "platform/Keyring.h"

namespace og {

class RefreshTokenStore {
public:
    explicit RefreshTokenStore(Keyring& keyring)
        : keyring_(keyring)
    {
    }

    struct Loaded {
        QString refreshToken; // empty when none is kept
        QString problem;      // the keyring could not be asked, and why
    };
    Loaded load(const OAuthProvider& provider, const QString& userName);
    // Keeps the token, or takes out the one kept when refreshToken is empty
    // (signing out). An empty text, or one for the status line.
    QString keep(const OAuthProvider& provider, const QString& userName, const QString& refreshToken);

private:
    Keyring& keyring_;
};

} // namespace og
