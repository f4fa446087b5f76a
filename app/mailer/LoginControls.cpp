#include "app/mailer/LoginControls.h"

#include "mailer/signin/OAuthProvider.h"
#include "mailer/signin/OAuthSignIn.h"
#include "mailer/signin/OAuthTokenHolder.h"
#include "mailer/signin/SignInSession.h"
#include "platform/ReflowForm.h"

#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalBlocker>
#include <QWidget>

namespace og {

namespace {

const struct {
    const char* title;
    LoginMethod method;
    OAuthProviderKind provider;
} kChoices[] = {
    {"Password", LoginMethod::Password, OAuthProviderKind::Microsoft},
    {"Microsoft", LoginMethod::OAuth2, OAuthProviderKind::Microsoft},
    {"Google", LoginMethod::OAuth2, OAuthProviderKind::Google},
    {"Custom OAuth2", LoginMethod::OAuth2, OAuthProviderKind::Custom},
    {"Token command", LoginMethod::TokenCommand, OAuthProviderKind::Microsoft},
};

const QString NotSignedIn = QStringLiteral("Not signed in");

} // namespace

LoginControls::LoginControls(Platform& platform, QLineEdit* userName, QWidget* window)
    : QObject(window),
      platform_(platform),
      window_(window),
      userName_(userName),
      session_(platform)
{
    build();
    showFields();
}

LoginControls::~LoginControls() = default;

int LoginControls::placeInto(ReflowForm* grid, int row)
{
    auto* signInRow = new QHBoxLayout;
    signInRow->addWidget(signInButton_);
    signInRow->addWidget(cancelButton_);
    signInRow->addWidget(signedInLabel_, 1);
    grid->addWidget(methodLabel_, row, 0);
    grid->addWidget(method_, row, 1);
    grid->addLayout(signInRow, row, 2, 1, 2);
    auto* addressRow = new QHBoxLayout;
    addressRow->addWidget(address_, 1);
    addressRow->addWidget(copyButton_);
    ++row;
    grid->addWidget(addressLabel_, row, 0);
    grid->addLayout(addressRow, row, 1, 1, 3);
    for (const QList<QWidget*>& fields : std::as_const(rows_)) {
        ++row;
        grid->addWidget(fields[0], row, 0);
        grid->addWidget(fields[1], row, 1, 1, fields.size() > 2 ? 1 : 3);
        if (fields.size() > 2) {
            grid->addWidget(fields[2], row, 2);
            grid->addWidget(fields[3], row, 3);
        }
    }
    return row + 1;
}

void LoginControls::build()
{
    const auto edit = [this](const char* name, const QString& hint) {
        auto* field = new QLineEdit(window_);
        field->setObjectName(QLatin1String(name));
        field->setToolTip(hint);
        connect(field, &QLineEdit::textEdited, this, &LoginControls::changed);
        return field;
    };
    const auto label = [this](const char* text) { return new QLabel(QLatin1String(text), window_); };

    methodLabel_ = label("Login:");
    method_ = new QComboBox(window_);
    method_->setObjectName(QStringLiteral("LoginMethod"));
    for (const auto& choice : kChoices)
        method_->addItem(QLatin1String(choice.title));
    method_->setToolTip(QStringLiteral("how the user name logs in: a password, a sign-in at the provider in the "
                                       "browser (OAuth2), or an access token a command prints"));
    signInButton_ = new QPushButton(QStringLiteral("Sign in…"), window_);
    signInButton_->setObjectName(QStringLiteral("SignInButton"));
    signInButton_->setAutoDefault(false);
    signInButton_->setToolTip(QStringLiteral("sign in at the provider in your browser"));
    signedInLabel_ = new QLabel(NotSignedIn, window_);
    signedInLabel_->setObjectName(QStringLiteral("SignedIn"));
    signedInLabel_->setWordWrap(true);
    const auto button = [this](const char* name, const char* text, const char* hint) {
        auto* b = new QPushButton(QString::fromUtf8(text), window_);
        b->setObjectName(QLatin1String(name));
        b->setAutoDefault(false);
        b->setToolTip(QLatin1String(hint));
        return b;
    };
    cancelButton_ = button("CancelSignIn", "Cancel", "stop waiting for the sign-in in the browser");
    addressLabel_ = label("Sign-in address:");
    address_ = new QLineEdit(window_);
    address_->setObjectName(QStringLiteral("SignInAddress"));
    address_->setReadOnly(true);
    address_->setToolTip(QStringLiteral("open this address in a browser on this machine to sign in"));
    addressLabel_->setBuddy(address_);
    copyButton_ = button("CopySignInAddress", "Copy", "copy the sign-in address, to open it in a browser yourself");

    clientId_ = edit("ClientId", QStringLiteral("the client id of the application you registered at the provider"));
    clientSecret_ = edit("ClientSecret", QStringLiteral("its client secret, if the provider gave one (Google does)"));
    clientSecret_->setEchoMode(QLineEdit::Password);
    tenant_ = edit("Tenant", QStringLiteral("empty: common (any account); or your organisation's domain or id"));
    authUrl_ = edit("AuthUrl", QStringLiteral("the provider's authorization address (https:)"));
    tokenUrl_ = edit("TokenUrl", QStringLiteral("the provider's token address (https:)"));
    scope_ = edit("Scope", QStringLiteral("the scope that allows sending mail"));
    tokenCommand_ = edit("TokenCommand", QStringLiteral("run with /bin/sh -c; the first line it prints is the token"));
    const struct {
        QList<QWidget*>* group;
        const char* first;
        QLineEdit* firstField;
        const char* second;
        QLineEdit* secondField;
    } rows[] = {
        {&oauthRow_, "Client id:", clientId_, "Client secret:", clientSecret_},
        {&microsoftRow_, "Tenant:", tenant_, nullptr, nullptr},
        {&customRows_, "Authorization address:", authUrl_, "Token address:", tokenUrl_},
        {&customRows_, "Scope:", scope_, nullptr, nullptr},
        {&commandRow_, "Token command:", tokenCommand_, nullptr, nullptr},
    };
    for (const auto& r : rows) {
        QList<QWidget*> row {label(r.first), r.firstField};
        if (r.second)
            row << label(r.second) << r.secondField;
        *r.group += row;
        rows_ << row;
    }

    connect(method_, &QComboBox::currentIndexChanged, this, [this] {
        cancelSignIn(); // a sign-in for another login choice is no longer wanted
        showFields();
        loadClientSecret();
        showSignedIn();
    });
    connect(method_, &QComboBox::activated, this, &LoginControls::changed);
    connect(method_, &QComboBox::activated, this, [this](int index) {
        const auto& choice = kChoices[std::max(index, 0)];
        if (choice.method != LoginMethod::OAuth2 || choice.provider == OAuthProviderKind::Custom)
            return;
        const OAuthProvider provider =
            choice.provider == OAuthProviderKind::Microsoft ? microsoftProvider() : googleProvider();
        if (!provider.servers.isEmpty())
            emit serverChosen(provider.servers.first());
    });
    connect(signInButton_, &QPushButton::clicked, this, &LoginControls::signIn);
    connect(cancelButton_, &QPushButton::clicked, this, &LoginControls::cancelSignIn);
    connect(copyButton_, &QPushButton::clicked, this, [this] {
        platform_.copyToClipboard(address_->text());
        emit status(QStringLiteral("The sign-in address is on the clipboard"));
    });
    connect(clientId_, &QLineEdit::editingFinished, this, &LoginControls::loadClientSecret);
    for (QLineEdit* field : {userName_, tenant_, tokenUrl_})
        connect(field, &QLineEdit::editingFinished, this, &LoginControls::showSignedIn);
}

void LoginControls::showFields()
{
    const auto& choice = kChoices[std::max(method_->currentIndex(), 0)];
    const bool oauth = choice.method == LoginMethod::OAuth2;
    const auto show = [](const QList<QWidget*>& row, bool visible) {
        for (QWidget* widget : row)
            widget->setVisible(visible);
    };
    show(oauthRow_, oauth);
    show(microsoftRow_, oauth && choice.provider == OAuthProviderKind::Microsoft);
    show(customRows_, oauth && choice.provider == OAuthProviderKind::Custom);
    show(commandRow_, choice.method == LoginMethod::TokenCommand);
    signInButton_->setVisible(oauth);
    signedInLabel_->setVisible(oauth);
    showWaiting();
    emit methodChanged(choice.method == LoginMethod::Password);
}

LoginMethod LoginControls::method() const
{
    return kChoices[std::max(method_->currentIndex(), 0)].method;
}

void LoginControls::load(const MailerSettings& s)
{
    const QSignalBlocker quiet(method_); // the fields follow below, once
    for (qsizetype i = 0; i < qsizetype(std::size(kChoices)); ++i) {
        const auto& choice = kChoices[i];
        if (choice.method == s.login && (s.login != LoginMethod::OAuth2 || choice.provider == s.oauthProvider))
            method_->setCurrentIndex(int(i));
    }
    clientId_->setText(s.clientId);
    tenant_->setText(s.tenant);
    authUrl_->setText(s.authUrl);
    tokenUrl_->setText(s.tokenUrl);
    scope_->setText(s.scope);
    tokenCommand_->setText(s.tokenCommand);
    showFields();
    loadClientSecret();
    showSignedIn();
}

void LoginControls::apply(MailerSettings& s) const
{
    const auto& choice = kChoices[std::max(method_->currentIndex(), 0)];
    s.login = choice.method;
    if (choice.method == LoginMethod::OAuth2)
        s.oauthProvider = choice.provider;
    s.clientId = clientId_->text().trimmed();
    s.tenant = tenant_->text().trimmed();
    s.authUrl = authUrl_->text().trimmed();
    s.tokenUrl = tokenUrl_->text().trimmed();
    s.scope = scope_->text().trimmed();
    s.tokenCommand = tokenCommand_->text().trimmed();
}

MailerSettings LoginControls::current() const
{
    MailerSettings s = settingsSource_ ? settingsSource_() : MailerSettings();
    apply(s);
    s.userName = userName_->text().trimmed();
    return s;
}

void LoginControls::loadClientSecret()
{
    const MailerSettings s = current();
    if (s.login != LoginMethod::OAuth2 || s.clientId.isEmpty() || !clientSecret_->text().isEmpty())
        return;
    const Keyring::KeyringReply reply =
        platform_.readPassword(clientSecretKey(oauthApplication(s).provider, s.clientId));
    if (reply.status == Keyring::KeyringStatus::Done)
        clientSecret_->setText(reply.password);
}

void LoginControls::showSignedIn()
{
    const MailerSettings s = current();
    if (s.login != LoginMethod::OAuth2 || signingIn())
        return;
    const QString title = oauthApplication(s).provider.title;
    bool in = false;
    if (!s.userName.isEmpty()) {
        const SignInSession::Start start = session_.tokensFor(oauthApplication(s).provider, s.userName);
        in = start.fromSession || !start.tokens.refreshToken.isEmpty();
        if (!start.problem.isEmpty())
            emit status(start.problem);
    }
    signedInLabel_->setText(in ? QStringLiteral("Signed in to %1 as %2").arg(title, s.userName)
                               : QStringLiteral("Not signed in to %1").arg(title));
}

void LoginControls::signIn()
{
    const MailerSettings s = current();
    const OAuthApplication application = oauthApplication(s, clientSecret_->text().trimmed());
    QString problem = s.userName.isEmpty()
        ? QStringLiteral("Enter your user name (usually your mail address): it is the account you sign in as")
        : checkOAuthApplication(application);
    if (!problem.isEmpty()) {
        platform_.showError(window_, problem);
        return;
    }
    signIn_ = std::make_unique<OAuthSignIn>(application, s.userName);
    connect(signIn_.get(), &OAuthSignIn::finished, this,
        [this, application, user = s.userName](const TokenReply& reply) { signedIn(reply, application, user); });
    signInButton_->setEnabled(false);
    signedInLabel_->setText(QStringLiteral("Signing in to %1: finish in the browser…").arg(application.provider.title));
    problem = signIn_->start([this](const QString& url, QString* why) {
        address_->setText(url); // there before the browser opens, for a browser that never does
        return platform_.openUrl(url, why);
    });
    showWaiting();
    if (!problem.isEmpty()) {
        signIn_.reset();
        signInButton_->setEnabled(!running_);
        showSignedIn();
        showWaiting();
        platform_.showError(window_, problem);
    } else if (!signIn_->browserProblem().isEmpty()) {
        platform_.showInformation(window_,
            QStringLiteral("No browser could be opened (%1). To sign in to %2, open the sign-in address shown "
                           "(\"Copy\" puts it on the clipboard) in a browser on this machine:\r%3")
                .arg(signIn_->browserProblem(), application.provider.title, signIn_->authorizationUrl()));
    }
}

void LoginControls::cancelSignIn()
{
    if (!signingIn())
        return;
    cancelling_ = true;
    signIn_->cancel(); // finished() comes at once, to signedIn()
    cancelling_ = false;
}

void LoginControls::showWaiting()
{
    const bool waiting = signingIn() && method() == LoginMethod::OAuth2;
    const QList<QWidget*> controls {cancelButton_, addressLabel_, address_, copyButton_};
    for (QWidget* widget : controls)
        widget->setVisible(waiting);
    if (!signingIn())
        address_->clear();
}

bool LoginControls::signingIn() const
{
    return signIn_ && !signIn_->isFinished();
}

void LoginControls::signedIn(const TokenReply& reply, const OAuthApplication& application, const QString& user)
{
    // The sign-in object stays until the next one: it is still sending the
    // browser its page.
    signInButton_->setEnabled(!running_);
    showWaiting();
    if (!reply.ok()) {
        showSignedIn();
        if (cancelling_)
            emit status(reply.error);
        else
            platform_.showError(window_, reply.error);
        return;
    }
    report(session_.signedIn(application.provider, user, reply.tokens));
    if (!application.clientSecret.isEmpty())
        platform_.writePassword(clientSecretKey(application.provider, application.clientId), application.clientSecret);
    signedInLabel_->setText(QStringLiteral("Signed in to %1 as %2").arg(application.provider.title, user));
}

void LoginControls::report(const QString& problem)
{
    if (!problem.isEmpty())
        emit status(problem);
}

std::shared_ptr<AccessTokenSource> LoginControls::tokensForRun(const MailerSettings& s, QString* problem, bool mailbox)
{
    OAuthApplication application = oauthApplication(s, clientSecret_->text().trimmed());
    OAuthTokens tokens = session_.tokensFor(application.provider, s.userName).tokens;
    if (mailbox && !application.provider.mailboxScope.isEmpty()) {
        application = forMailbox(application);
        tokens.accessToken.clear(); // granted for sending; the mailbox needs its own
    }
    if (tokens.accessToken.isEmpty() && tokens.refreshToken.isEmpty()) {
        *problem = QStringLiteral("Not signed in to %1 as %2: press \"Sign in…\" first")
                       .arg(application.provider.title, s.userName);
        return nullptr;
    }
    auto holder = std::make_shared<OAuthTokenHolder>(OAuthTokenClient(application), tokens);
    // Called on the run's thread; the keyring is the window's.
    holder->setRefreshTokenChanged([this, provider = application.provider, user = s.userName](const QString& token) {
        QMetaObject::invokeMethod(
            this, [this, provider, user, token] { report(session_.replaced(provider, user, token)); },
            Qt::QueuedConnection);
    });
    return holder;
}

void LoginControls::forgetSignIn(const MailerSettings& s)
{
    report(session_.forget(oauthApplication(s).provider, s.userName));
    showSignedIn();
}

void LoginControls::setRunning(bool running)
{
    running_ = running;
    method_->setEnabled(!running);
    signInButton_->setEnabled(!running && !signingIn());
    for (QLineEdit* field : {clientId_, clientSecret_, tenant_, authUrl_, tokenUrl_, scope_, tokenCommand_})
        field->setEnabled(!running);
}

} // namespace og
