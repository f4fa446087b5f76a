#include "mailer/signin/OAuthTokenHolder.h"

namespace og {

OAuthTokenHolder::OAuthTokenHolder(const OAuthTokenClient& client, OAuthTokens tokens, std::chrono::seconds margin)
    : OAuthTokenHolder(
          [client](const QString& refreshToken) { return client.refresh(refreshToken); }, std::move(tokens), margin)
{
}

OAuthTokenHolder::OAuthTokenHolder(Refresher refresher, OAuthTokens tokens, std::chrono::seconds margin)
    : refresher_(std::move(refresher)),
      margin_(margin),
      tokens_(std::move(tokens))
{
}

bool OAuthTokenHolder::fresh() const
{
    return !tokens_.accessToken.isEmpty() && tokens_.expiry.remainingTimeAsDuration() > margin_;
}

QString OAuthTokenHolder::accessToken()
{
    const std::lock_guard lock(mutex_);
    if (!signInProblem_.isEmpty())
        throw SignInAgain(signInProblem_);
    return fresh() ? tokens_.accessToken : refresh();
}

QString OAuthTokenHolder::refusedToken(const QString& refused)
{
    const std::lock_guard lock(mutex_);
    if (!signInProblem_.isEmpty())
        throw SignInAgain(signInProblem_);
    // Several connections see the same token refused; the first refreshes.
    return fresh() && tokens_.accessToken != refused ? tokens_.accessToken : refresh();
}

QString OAuthTokenHolder::refresh()
{
    if (tokens_.refreshToken.isEmpty()) {
        signInProblem_ = QStringLiteral("The sign-in has run out, and the provider gave no refresh token to renew it. "
                                        "Sign in again");
        throw SignInAgain(signInProblem_);
    }
    const TokenReply reply = refresher_(tokens_.refreshToken);
    if (reply.signInAgain) {
        signInProblem_ = reply.error;
        throw SignInAgain(signInProblem_);
    }
    if (!reply.ok())
        throw SendFailure(reply.error); // the network or the server: the next call tries again
    OAuthTokens next = reply.tokens;
    // Most providers keep the refresh token as it was and say nothing of it.
    if (next.refreshToken.isEmpty())
        next.refreshToken = tokens_.refreshToken;
    const bool changed = next.refreshToken != tokens_.refreshToken;
    tokens_ = next;
    if (changed && changed_)
        changed_(tokens_.refreshToken);
    return tokens_.accessToken;
}

QString OAuthTokenHolder::refreshToken() const
{
    const std::lock_guard lock(mutex_);
    return tokens_.refreshToken;
}

void OAuthTokenHolder::setRefreshTokenChanged(std::function<void(const QString&)> changed)
{
    const std::lock_guard lock(mutex_);
    changed_ = std::move(changed);
}

} // namespace og
