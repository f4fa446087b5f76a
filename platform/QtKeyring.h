#pragma once

#include "platform/Keyring.h"

namespace og {

// The desktop keyring through QtKeychain (Secret Service or KWallet over
// D-Bus), never its plain-text fallback. It needs no windows: the mailer
// window (through QtPlatform) and the command line both keep their secrets
// with it. Each call runs a local event loop until the keyring answered,
// so it needs a Qt application and is made on its thread.
class QtKeyring : public Keyring {
public:
    KeyringReply readPassword(const QString& key) override;
    KeyringReply writePassword(const QString& key, const QString& password) override;
    KeyringReply deletePassword(const QString& key) override;
};

} // namespace og
