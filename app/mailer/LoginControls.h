#pragma once
// The mailer window's choice of login beside the password: Microsoft,
// Google or a custom provider's OAuth2 sign-in in the browser, or a token
// command, with the fields each needs, "Sign in…" and who is signed in.
// A waiting sign-in shows its address (read-only, with "Copy") and Cancel;
// changing the login choice cancels it.
// The refresh token's life is a SignInSession, as on the command line: the
// desktop keyring keeps it, the client secret too (never the settings
// file); the sign-in of this window's session is also kept in memory, so a
// desktop without a keyring can still send.

#include "mailer/MailerSettings.h"
#include "mailer/signin/OAuthProvider.h"
#include "mailer/signin/OAuthTokenClient.h"
#include "mailer/signin/SignInSession.h"
#include "platform/Platform.h"

#include <QObject>

#include <functional>
#include <memory>

class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QWidget;

namespace og {

class ReflowForm;

class AccessTokenSource;
class OAuthSignIn;

class LoginControls : public QObject {
    Q_OBJECT
public:
    // Its controls belong to `window`; userName: the window's user name
    // field, the account signed in.
    LoginControls(Platform& platform, QLineEdit* userName, QWidget* window);
    ~LoginControls() override;

    // Lays the controls out in the window's grid (four columns) from `row`
    // on; the row after them.
    int placeInto(ReflowForm* grid, int row);

    // The window's other settings (its server, the provider named), so the
    // sign-in's messages name a custom provider as the vendor knows it.
    void setSettingsSource(std::function<MailerSettings()> source) { settingsSource_ = std::move(source); }

    void load(const MailerSettings& settings);
    // The chosen login and its fields into the settings.
    void apply(MailerSettings& settings) const;
    LoginMethod method() const;

    // The signed-in account's tokens for a run with these settings (or for
    // reading the mailbox), or null with the problem (not signed in).
    std::shared_ptr<AccessTokenSource> tokensForRun(
        const MailerSettings& settings, QString* problem, bool mailbox = false);
    // The provider refused the sign-in during a run: it is forgotten.
    void forgetSignIn(const MailerSettings& settings);
    void setRunning(bool running);

    // Signs in in the browser (the "Sign in…" button).
    void signIn();
    // Ends a waiting sign-in (the "Cancel" button); "Sign in…" is usable again.
    void cancelSignIn();
    // Looks up who is signed in for the user and provider now entered.
    void showSignedIn();

signals:
    // The choice or a field changed (the settings are to be saved).
    void changed();
    // The password's controls are shown for the Password login only.
    void methodChanged(bool password);
    // A text for the window's status line.
    void status(const QString& text);
    // The vendor chose a provider's sign-in: its submission server.
    void serverChosen(const OAuthServer& server);

private:
    void build();
    void showFields();
    bool signingIn() const;
    // The waiting sign-in's address, Copy and Cancel: shown while one waits.
    void showWaiting();
    void signedIn(const TokenReply& reply, const OAuthApplication& application, const QString& user);
    void report(const QString& problem);
    void loadClientSecret();
    MailerSettings current() const;

    Platform& platform_;
    QWidget* window_;
    QLineEdit* userName_;
    QComboBox* method_ = nullptr;
    QPushButton* signInButton_ = nullptr;
    QLabel* signedInLabel_ = nullptr;
    QPushButton* cancelButton_ = nullptr;
    QLabel* addressLabel_ = nullptr;
    QLineEdit* address_ = nullptr; // the waiting sign-in's address
    QPushButton* copyButton_ = nullptr;
    QLineEdit* clientId_ = nullptr;
    QLineEdit* clientSecret_ = nullptr;
    QLineEdit* tenant_ = nullptr;
    QLineEdit* authUrl_ = nullptr;
    QLineEdit* tokenUrl_ = nullptr;
    QLineEdit* scope_ = nullptr;
    QLineEdit* tokenCommand_ = nullptr;
    QLabel* methodLabel_ = nullptr;
    QList<QWidget*> oauthRow_, microsoftRow_, customRows_, commandRow_;
    // Each row of fields: its widgets (label, field, label, field).
    QList<QList<QWidget*>> rows_;

    std::unique_ptr<OAuthSignIn> signIn_; // the last sign-in, under way or finished
    SignInSession session_;               // this window's sign-in and the keyring's
    std::function<MailerSettings()> settingsSource_;
    bool running_ = false;
    bool cancelling_ = false; // the vendor ended the sign-in: no error box
};

} // namespace og
