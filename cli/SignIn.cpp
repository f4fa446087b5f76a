#include "cli/SignIn.h"

#include "cli/Command.h"
#include "mailer/signin/OAuthSignIn.h"

#include <QProcess>
#include <QSocketNotifier>
#include <QTimer>

#include <atomic>
#include <csignal>
#include <optional>

#include <unistd.h>

namespace og::cli {

namespace {

std::atomic<bool> interrupted {false};

extern "C" void noteInterrupt(int)
{
    interrupted = true;
}

// While a sign-in waits for the browser, Ctrl-C (and, at a terminal, the end
// of input: Ctrl-D) cancels it, so the listener closes and the command ends
// with its message instead of being killed.
class CancelOnInterrupt {
public:
    explicit CancelOnInterrupt(OAuthSignIn& signIn)
    {
        interrupted = false;
        previous_ = std::signal(SIGINT, noteInterrupt);
        QObject::connect(&poll_, &QTimer::timeout, &signIn, [&signIn] {
            if (interrupted)
                signIn.cancel();
        });
        poll_.start(100);
        if (isatty(STDIN_FILENO)) {
            input_.emplace(STDIN_FILENO, QSocketNotifier::Read);
            QObject::connect(&*input_, &QSocketNotifier::activated, &signIn, [this, &signIn] {
                char buffer[256];
                if (read(STDIN_FILENO, buffer, sizeof buffer) <= 0) {
                    input_->setEnabled(false);
                    signIn.cancel();
                }
            });
        }
    }
    ~CancelOnInterrupt() { std::signal(SIGINT, previous_); }
    CancelOnInterrupt(const CancelOnInterrupt&) = delete;
    CancelOnInterrupt& operator=(const CancelOnInterrupt&) = delete;

private:
    void (*previous_)(int) = SIG_DFL;
    QTimer poll_;
    std::optional<QSocketNotifier> input_;
};

} // namespace

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
    const CancelOnInterrupt cancel(signIn); // before the line that says Ctrl-C cancels
    const QString& title = application.provider.title;
    // A browser that was started may still fail to show the page (no
    // display): the address is there either way.
    printError((signIn.browserProblem().isEmpty()
                       ? QStringLiteral("The browser was asked to open the sign-in page of %1 for %2; if it did not, "
                                        "open this address in a browser on this machine:\n")
                       : QStringLiteral("To sign in to %1 as %2, open this address in a browser on this machine:\n"))
                   .arg(title, user) +
        signIn.authorizationUrl() +
        QStringLiteral("\nWaiting for the sign-in to finish in the browser (Ctrl-C cancels)...\n"));
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
