#include "mailer/signin/SignInSession.h"

namespace og {

SignInSession::Start SignInSession::tokensFor(const OAuthProvider& provider, const QString& user)
{
    Start start;
    if (refreshTokenKey(provider, user) == key_) {
        start.tokens = tokens_;
        start.fromSession = true;
        return start;
    }
    const RefreshTokenStore::Loaded loaded = store_.load(provider, user);
    start.tokens.refreshToken = loaded.refreshToken;
    start.problem = loaded.problem;
    return start;
}

QString SignInSession::signedIn(const OAuthProvider& provider, const QString& user, const OAuthTokens& tokens)
{
    key_ = refreshTokenKey(provider, user);
    tokens_ = tokens;
    return tokens.refreshToken.isEmpty() ? QString() : store_.keep(provider, user, tokens.refreshToken);
}

QString SignInSession::replaced(const OAuthProvider& provider, const QString& user, const QString& refreshToken)
{
    if (refreshTokenKey(provider, user) == key_)
        tokens_.refreshToken = refreshToken;
    return store_.keep(provider, user, refreshToken);
}

QString SignInSession::forget(const OAuthProvider& provider, const QString& user)
{
    if (refreshTokenKey(provider, user) == key_) {
        key_.clear();
        tokens_ = {};
    }
    return store_.keep(provider, user, QString());
}

} // namespace og
