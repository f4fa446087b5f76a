#pragma once
// The OAuth2 sign-in of the command line: the browser is sent to the
// provider's page (its address is printed on standard error in any case,
// for a machine where no browser opens), the answer comes back to a
// listener on 127.0.0.1, and the refresh token is kept in the desktop
// keyring when there is one; without one it lasts as long as the command.

#include "mailer/signin/OAuthTokenHolder.h"
#include "mailer/signin/SignInSession.h"

#include <memory>

namespace og::cli {

// Signs in at the application's provider as `user`: opens the
// authorization address with xdg-open unless noBrowser, prints it on
// standard error as a line of its own, and waits for the answer.
TokenReply signInWithBrowser(const OAuthApplication& application, const QString& user, bool noBrowser);

// The tokens of a send's OAuth2 login, from the sign-in the keyring keeps
// for the provider and user (the first login renews its access token), or
// from a sign-in first, kept in the keyring when there is one.
class SendSignIn {
public:
    SendSignIn(Keyring& keyring, OAuthApplication application, QString user);
    // Throws SendFailure when no sign-in could be had.
    std::shared_ptr<OAuthTokenHolder> tokens(bool noBrowser);
    // After the run: a refresh token the provider replaced goes to the
    // keyring; a saved sign-in the provider refused is taken out of it, so
    // the next send signs in first.
    void finish(bool refused);

private:
    // A keyring's problem is printed; without one, kept is what it holds now.
    void report(const QString& problem, const QString& kept);

    SignInSession session_;
    OAuthApplication application_;
    QString user_;
    QString saved_; // the refresh token the keyring holds
    std::shared_ptr<OAuthTokenHolder> holder_;
};

} // namespace og::cli
