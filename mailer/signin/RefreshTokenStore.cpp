#include "mailer/signin/RefreshTokenStore.h"

namespace og {

namespace {

QString problemOf(const Keyring::KeyringReply& reply, const QString& failed)
{
    switch (reply.status) {
    case Keyring::KeyringStatus::Done:
    case Keyring::KeyringStatus::NotFound:
        return {};
    case Keyring::KeyringStatus::NoKeyring:
        return QStringLiteral(
            "No desktop keyring is available (%1), so the sign-in lasts only until the program closes")
            .arg(reply.why);
    case Keyring::KeyringStatus::Failed:
        break;
    }
    return failed + reply.why;
}

} // namespace

RefreshTokenStore::Loaded RefreshTokenStore::load(const OAuthProvider& provider, const QString& userName)
{
    const Keyring::KeyringReply reply = keyring_.readPassword(refreshTokenKey(provider, userName));
    Loaded loaded;
    loaded.problem = problemOf(reply, QStringLiteral("The saved sign-in could not be read from the desktop keyring: "));
    if (reply.status == Keyring::KeyringStatus::Done)
        loaded.refreshToken = reply.password;
    return loaded;
}

QString RefreshTokenStore::keep(const OAuthProvider& provider, const QString& userName, const QString& refreshToken)
{
    const QString key = refreshTokenKey(provider, userName);
    if (refreshToken.isEmpty())
        return problemOf(keyring_.deletePassword(key),
            QStringLiteral("The sign-in could not be removed from the desktop keyring: "));
    return problemOf(keyring_.writePassword(key, refreshToken),
        QStringLiteral("The sign-in could not be kept in the desktop keyring: "));
}

} // namespace og
