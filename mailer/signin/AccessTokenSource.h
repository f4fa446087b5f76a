#pragma once
// Where a login by token (XOAUTH2, OAUTHBEARER) gets its access token: the
// refresh token of a browser sign-in (OAuthTokenHolder.h) or a command the
// vendor names (TokenCommand.h). A run's connections share one source and
// call it from their own threads.

#include "mailer/SendFailure.h"

#include <QString>

namespace og {

// The provider refused the saved sign-in (or there is none): the run ends
// before the next customer, and resumes once the vendor signed in again.
class SignInAgain : public SendFailure {
public:
    using SendFailure::SendFailure;
};

class AccessTokenSource {
public:
    virtual ~AccessTokenSource() = default;
    // A token to log in with now. Throws SendFailure (SignInAgain when only
    // a new sign-in helps); the message never holds a token.
    virtual QString accessToken() = 0;
    // The server refused this token: a fresh one. When another connection
    // already replaced the refused token, that replacement, with no second
    // refresh. Throws as accessToken().
    virtual QString refusedToken(const QString& refused) = 0;
};

} // namespace og
