#include "app/PublishDialog.h"

#include "platform/KeyboardAccess.h"
#include "platform/NamedWidget.h"
#include "platform/Platform.h"
#include "platform/ScreenFit.h"
#include "publish/PublishError.h"

#include <QComboBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>
#include <QtConcurrent/QtConcurrentRun>

namespace og {

namespace {

} // namespace

PublishDialog::PublishDialog(Platform& platform, PublishDialogParams params, QWidget* parent)
    : QDialog(parent),
      platform_(platform),
      params_(std::move(params))
{
    setObjectName(QStringLiteral("PublishDialog"));
    setWindowTitle(QStringLiteral("Publish \"%1\" to the server").arg(params_.product));
    Host = named(new QLineEdit, "Host");
    Port = named(new QSpinBox, "Port");
    Port->setRange(1, 65535);
    User = named(new QLineEdit, "User");
    Folder = named(new QLineEdit, "Folder");
    Folder->setPlaceholderText(QStringLiteral("/var/www/downloads"));
    CheckUrl = named(new QLineEdit, "CheckUrl");
    CheckUrl->setPlaceholderText(QStringLiteral("https://www.example.com/downloads/setup.zip"));
    KeyFile = named(new QLineEdit, "KeyFile");
    KeyFile->setPlaceholderText(QStringLiteral("none: the SSH agent, then the password"));
    Hash = named(new QComboBox, "Hash");
    Hash->addItem(QStringLiteral("As the \"Password hash\" option"), QString());
    for (const auto& [kind, word] : kHashWords)
        Hash->addItem(QLatin1String(word), QLatin1String(word));
    Password = named(new QPushButton(QStringLiteral("SSH password…")), "Password");
    Password->setToolTip(QStringLiteral("Keep the login's password in the desktop keyring"));
    DryRun = named(new QPushButton(QStringLiteral("Dry run")), "DryRun");
    DryRun->setToolTip(QStringLiteral("Count what would change on the server; change nothing"));
    Publish = named(new QPushButton(QStringLiteral("Publish")), "Publish");
    Undo = named(new QPushButton(QStringLiteral("Step back")), "Undo");
    Undo->setToolTip(QStringLiteral("Put .htpasswd.previous back"));
    Close = named(new QPushButton(QStringLiteral("Close")), "Close");
    Report = named(new QPlainTextEdit, "Report");
    Report->setReadOnly(true);
    for (QPushButton* b : {Password, DryRun, Publish, Undo, Close})
        b->setAutoDefault(false);

    auto* form = new QFormLayout;
    form->setRowWrapPolicy(QFormLayout::WrapLongRows);
    form->addRow(QStringLiteral("SSH server:"), Host);
    form->addRow(QStringLiteral("Port:"), Port);
    form->addRow(QStringLiteral("User:"), User);
    form->addRow(QStringLiteral("Key file:"), KeyFile);
    form->addRow(QStringLiteral("Protected folder:"), Folder);
    form->addRow(QStringLiteral("Download address:"), CheckUrl);
    form->addRow(QStringLiteral("Password hash:"), Hash);
    auto* buttons = new QHBoxLayout;
    for (QPushButton* b : {Password, DryRun, Publish, Undo})
        buttons->addWidget(b);
    buttons->addStretch(1);
    buttons->addWidget(Close);
    auto* top = new QVBoxLayout(this);
    top->addLayout(form);
    top->addWidget(Report, 1);
    top->addLayout(buttons);

    const PublishSettings s = PublishSettings::load(params_.settingsPath);
    Host->setText(s.host);
    Port->setValue(s.port);
    User->setText(s.user);
    Folder->setText(s.folder);
    CheckUrl->setText(s.checkUrl);
    KeyFile->setText(s.keyFile);
    Hash->setCurrentIndex(std::max(0, Hash->findData(s.hash.toLower())));
    knownHosts_ = s.knownHosts;

    connect(Password, &QPushButton::clicked, this, &PublishDialog::askPassword);
    connect(DryRun, &QPushButton::clicked, this, [this] { start(PublishMode::DryRun); });
    connect(Publish, &QPushButton::clicked, this, [this] { start(PublishMode::Publish); });
    connect(Undo, &QPushButton::clicked, this, [this] {
        if (platform_.confirm(this, QStringLiteral("Put the previous .htpasswd back on the server?")))
            start(PublishMode::Undo);
    });
    connect(Close, &QPushButton::clicked, this, &QDialog::reject);
    connect(&watcher_, &QFutureWatcher<Outcome>::finished, this, &PublishDialog::finish);
    assignShortcuts(this);
    showFocusFrames(this);
    fitWhenShown(this);
}

PublishDialog::~PublishDialog()
{
    watcher_.waitForFinished();
}

PublishSettings PublishDialog::settings() const
{
    PublishSettings s;
    s.host = Host->text().trimmed();
    s.port = Port->value();
    s.user = User->text().trimmed();
    s.folder = Folder->text().trimmed();
    s.checkUrl = CheckUrl->text().trimmed();
    s.keyFile = KeyFile->text().trimmed();
    s.hash = Hash->currentData().toString();
    s.knownHosts = knownHosts_;
    return s;
}

void PublishDialog::askPassword()
{
    const PublishSettings s = settings();
    QString password;
    if (!platform_.askPassword(this, QStringLiteral("The SSH password of %1 at %2").arg(s.user, s.host), &password))
        return;
    const Keyring::KeyringReply reply = platform_.writePassword(s.keyringKey(), password);
    if (reply.status != Keyring::KeyringStatus::Done)
        platform_.showError(this,
            QStringLiteral("The password could not be kept in the desktop keyring: %1")
                .arg(reply.why.isEmpty() ? QStringLiteral("no keyring") : reply.why));
}

void PublishDialog::start(PublishMode mode, const QString& acceptedFingerprint)
{
    if (running_)
        return;
    PublishRequest r;
    r.settings = settings();
    try {
        r.settings.save(params_.settingsPath);
    } catch (const std::exception& e) {
        platform_.showException(this, QString::fromUtf8(e.what()));
        return;
    }
    // The keyring is asked here, on the window's thread, before the work.
    const Keyring::KeyringReply reply = platform_.readPassword(r.settings.keyringKey());
    const QString password = reply.status == Keyring::KeyringStatus::Done ? reply.password : QString();
    r.password = [password] { return password; };
    r.options = params_.options;
    r.programFolder = params_.programFolder;
    r.product = params_.product;
    r.mode = mode;
    r.acceptedFingerprint = acceptedFingerprint;
    mode_ = mode;
    running_ = true;
    for (QPushButton* b : {DryRun, Publish, Undo})
        b->setEnabled(false);
    Report->setPlainText(QStringLiteral("Connecting to %1…").arg(r.settings.host));
    watcher_.setFuture(QtConcurrent::run([r]() {
        Outcome o;
        try {
            o.result = og::publish(r);
        } catch (const UnknownHostKey& e) {
            o.error = e.message();
            o.fingerprint = e.fingerprint();
        } catch (const std::exception& e) {
            o.error = QString::fromUtf8(e.what());
        }
        return o;
    }));
}

void PublishDialog::finish()
{
    running_ = false;
    for (QPushButton* b : {DryRun, Publish, Undo})
        b->setEnabled(true);
    const Outcome o = watcher_.future().result();
    watcher_.setFuture(QFuture<Outcome>());
    if (!o.fingerprint.isEmpty()) {
        Report->setPlainText(o.error);
        if (platform_.confirm(this,
                QStringLiteral("The server's host key is not known yet. Its fingerprint is\n%1\nIs it the server's "
                               "own? (Ask your host, or run ssh-keygen -l -f on its host key.)")
                    .arg(o.fingerprint)))
            start(mode_, o.fingerprint);
        else
            emit finished(false);
        return;
    }
    if (!o.error.isEmpty()) {
        Report->setPlainText(o.error);
        platform_.showException(this, o.error);
        emit finished(false);
        return;
    }
    Report->setPlainText(o.result.lines().join(u'\n'));
    if (o.result.failedChecks() > 0)
        platform_.showWarning(this,
            QStringLiteral("Published, but %1 accounts of the login check did not do as "
                           "expected: see the report")
                .arg(o.result.failedChecks()));
    emit finished(true);
}

} // namespace og
