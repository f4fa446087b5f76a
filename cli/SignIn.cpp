#include "cli/SignIn.h"

#include "cli/Command.h"
#include "mailer/signin/OAuthSignIn.h"

#include <QProcess>

namespace og::cli {

TokenReply signInWithBrowser(const OAuthApplication& application, const QString& user, bool noBrowser)
{
    OAuthSignIn signIn(application, user);
    const QString problem = signIn.start([noBrowser](const QString& url, QString* why) {
        if (noBrowser)
            *why = QStringLiteral("--no-browser");
        else if (!QProcess::startDetached(QStringLiteral("xdg-open"), {url}))
            *why = QStringLiteral("xdg-open could not be started");
        return why->isEmpty();
    });
    if (!problem.isEmpty()) {
        TokenReply refused;
        refused.error = problem;
        return refused;
    }
    const QString& title = application.provider.title;
    // A browser that was started may still fail to show the page (no
    // display): the address is there either way.
    printError((signIn.browserProblem().isEmpty()
                       ? QStringLiteral("The browser was asked to open the sign-in page of %1 for %2; if it did not, "
                                        "open this address in a browser on this machine:\n")
                       : QStringLiteral("To sign in to %1 as %2, open this address in a browser on this machine:\n"))
                   .arg(title, user) +
        signIn.authorizationUrl() + QStringLiteral("\nWaiting for the sign-in to finish in the browser...\n"));
    return signIn.wait();
}

SendSignIn::SendSignIn(Keyring& keyring, OAuthApplication application, QString user)
    : session_(keyring),
      application_(std::move(application)),
      user_(std::move(user))
{
}

void SendSignIn::report(const QString& problem, const QString& kept)
{
    if (!problem.isEmpty())
        printError(problem + u'\n');
    else
        saved_ = kept;
}

std::shared_ptr<OAuthTokenHolder> SendSignIn::tokens(bool noBrowser)
{
    const SignInSession::Start start = session_.tokensFor(application_.provider, user_);
    if (!start.problem.isEmpty())
        printError(start.problem + u'\n');
    OAuthTokens tokens = start.tokens;
    saved_ = tokens.refreshToken;
    if (saved_.isEmpty()) {
        printError(QStringLiteral("No sign-in to %1 for %2 is saved: signing in first\n")
                       .arg(application_.provider.title, user_));
        const TokenReply reply = signInWithBrowser(application_, user_, noBrowser);
        if (!reply.ok())
            throw SendFailure(reply.error);
        tokens = reply.tokens;
        // A keyring that could not be asked is not written to either.
        if (start.problem.isEmpty() && !tokens.refreshToken.isEmpty())
            report(session_.signedIn(application_.provider, user_, tokens), tokens.refreshToken);
    }
    holder_ = std::make_shared<OAuthTokenHolder>(OAuthTokenClient(application_), tokens);
    return holder_;
}

void SendSignIn::finish(bool refused)
{
    if (!holder_ || saved_.isEmpty())
        return;
    if (refused)
        report(session_.forget(application_.provider, user_), QString());
    else if (const QString now = holder_->refreshToken(); now != saved_)
        report(session_.replaced(application_.provider, user_, now), now);
}

} // namespace og::cli
