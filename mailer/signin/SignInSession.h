#pragma once
// The life of an OAuth2 sign-in's refresh token, one for the window and the
// command line: which tokens a run starts from (this session's own sign-in
// for that provider and user, else the refresh token the keyring keeps),
// which refresh token is kept (a new sign-in's, one the provider replaced)
// and which is forgotten (one the provider refused). Keyring calls, so on
// the thread that owns the keyring only.

#include "mailer/signin/OAuthProvider.h"
#include "mailer/signin/OAuthTokenClient.h"
#include "mailer/signin/RefreshTokenStore.h"
#include "platform/Keyring.h"

#include <QString>

namespace og {

class SignInSession {
public:
    explicit SignInSession(Keyring& keyring)
        : store_(keyring)
    {
    }

    struct Start {
        OAuthTokens tokens;       // empty when there is no sign-in to start from
        bool fromSession = false; // this session signed in as that user
        QString problem;          // the keyring could not be asked, and why
    };
    // The tokens a run as user at provider starts from.
    Start tokensFor(const OAuthProvider& provider, const QString& user);

    // Each of these returns the keyring's problem, or an empty text when it
    // kept what it was given.
    // A sign-in in the browser finished: its tokens are this session's, its
    // refresh token (if the provider gave one) is kept.
    QString signedIn(const OAuthProvider& provider, const QString& user, const OAuthTokens& tokens);
    // The provider gave a new refresh token while a run renewed its access
    // token: this session's too when it is this account's, and kept.
    QString replaced(const OAuthProvider& provider, const QString& user, const QString& refreshToken);
    // The provider refused the sign-in: the next run signs in first.
    QString forget(const OAuthProvider& provider, const QString& user);

private:
    RefreshTokenStore store_;
    // This session's sign-in: its keyring key and tokens.
    QString key_;
    OAuthTokens tokens_;
};

} // namespace og
