#pragma once
// The tokens of one signed-in account during a run: the access token in
// memory only, refreshed a little before it runs out and when a server
// refuses it, one refresh at a time for all the run's connections. A
// refresh the provider refuses ends every later call with SignInAgain,
// without asking the provider again.

#include "mailer/signin/AccessTokenSource.h"
#include "mailer/signin/OAuthTokenClient.h"

#include <chrono>
#include <functional>
#include <mutex>

namespace og {

class OAuthTokenHolder : public AccessTokenSource {
public:
    // Fetches fresh tokens for a refresh token (OAuthTokenClient::refresh).
    using Refresher = std::function<TokenReply(const QString& refreshToken)>;
    static constexpr std::chrono::seconds DefaultMargin {60};

    // tokens: those of a sign-in, or only the refresh token from the keyring
    // (the first call then refreshes). margin: how long before its expiry a
    // token counts as spent; a login takes seconds, tokens last an hour.
    OAuthTokenHolder(const OAuthTokenClient& client, OAuthTokens tokens, std::chrono::seconds margin = DefaultMargin);
    OAuthTokenHolder(Refresher refresher, OAuthTokens tokens, std::chrono::seconds margin = DefaultMargin);

    QString accessToken() override;
    QString refusedToken(const QString& refused) override;

    // The refresh token now: a provider may hand out a new one with a
    // refresh (the old one then soon stops working).
    QString refreshToken() const;
    // Called when a refresh brought a new refresh token, on the refreshing
    // thread with the holder locked: hand it on (to the GUI thread, for the
    // keyring) and do not call the holder from it.
    void setRefreshTokenChanged(std::function<void(const QString&)> changed);

private:
    bool fresh() const;
    QString refresh();

    Refresher refresher_;
    std::chrono::seconds margin_;
    mutable std::mutex mutex_; // held through a refresh: the others wait for its token
    OAuthTokens tokens_;
    QString signInProblem_; // once set, the answer to every call
    std::function<void(const QString&)> changed_;
};

} // namespace og
