#include "app/mailer/MailboxDialog.h"

#include "platform/KeyboardAccess.h"
#include "platform/ScreenFit.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>

namespace og {

namespace {

const struct {
    const char* title;
    MailboxSecurity security;
} kSecurities[] = {
    {"Automatic (SSL/TLS on 993, else STARTTLS)", MailboxSecurity::Automatic},
    {"STARTTLS", MailboxSecurity::StartTls},
    {"SSL/TLS", MailboxSecurity::Tls},
    {"None (password in plain text)", MailboxSecurity::None},
};

} // namespace

MailboxDialog::MailboxDialog(QWidget* parent, const MailboxSettings& settings)
    : QDialog(parent),
      settings_(settings)
{
    setWindowTitle(QStringLiteral("Mailbox for bounces"));
    setObjectName(QStringLiteral("MailboxDialog"));
    auto* form = new QWidget;
    auto* fields = new QFormLayout(form);
    fields->setRowWrapPolicy(QFormLayout::WrapLongRows);
    const auto edit = [&](const char* name, const char* label, const QString& text, const char* hint) {
        auto* field = new QLineEdit(text, form);
        field->setObjectName(QLatin1String(name));
        field->setToolTip(QLatin1String(hint));
        fields->addRow(QString::fromUtf8(label), field);
        return field;
    };
    server_ = edit("MailboxServer", "&IMAP server:", settings.server,
        "the server that holds your mailbox, as host or host:port (imap.example.com:993)");
    security_ = new QComboBox(form);
    security_->setObjectName(QStringLiteral("MailboxSecurity"));
    for (const auto& choice : kSecurities) {
        security_->addItem(QLatin1String(choice.title), int(choice.security));
        if (choice.security == settings.security)
            security_->setCurrentIndex(security_->count() - 1);
    }
    fields->addRow(QStringLiteral("S&ecurity:"), security_);
    user_ = edit("MailboxUser", "&Login:", settings.user,
        "empty: the mailer's user name; the password is asked for and kept in the desktop keyring");
    user_->setPlaceholderText(QStringLiteral("the mailer's user name"));
    folders_ = edit("MailboxFolders", "&Folders:", settings.folders.join(QStringLiteral("; ")),
        "the folders to read, separated by \";\" (INBOX; Junk)");
    days_ = new QSpinBox(form);
    days_->setObjectName(QStringLiteral("MailboxDays"));
    days_->setRange(1, 3650);
    days_->setValue(settings.days);
    days_->setSuffix(QStringLiteral(" days"));
    days_->setToolTip(QStringLiteral("how far back the first reading goes; later ones go on from there"));
    fields->addRow(QStringLiteral("&Read back:"), days_);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->button(QDialogButtonBox::Ok)->setText(QStringLiteral("&Check"));
    buttons->button(QDialogButtonBox::Ok)->setObjectName(QStringLiteral("MailboxCheck"));
    buttons->button(QDialogButtonBox::Cancel)->setObjectName(QStringLiteral("MailboxCancel"));
    problem_ = new QLabel(this);
    problem_->setObjectName(QStringLiteral("MailboxProblem"));
    problem_->setWordWrap(true);
    problem_->hide();
    connect(buttons, &QDialogButtonBox::accepted, this, &MailboxDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &MailboxDialog::reject);
    auto* top = new QVBoxLayout(this);
    top->addWidget(new FormScrollArea(form), 1);
    top->addWidget(problem_);
    top->addWidget(buttons);
    // the button box's Cancel comes without a letter of its own
    assignShortcuts(this);
    showFocusFrames(this);
}

MailboxSettings MailboxDialog::settings() const
{
    MailboxSettings s = settings_;
    s.server = server_->text().trimmed();
    s.security = MailboxSecurity(security_->currentData().toInt());
    s.user = user_->text().trimmed();
    s.folders.clear();
    for (const QString& folder : folders_->text().split(u';', Qt::SkipEmptyParts))
        if (!folder.trimmed().isEmpty())
            s.folders << folder.trimmed();
    if (s.folders.isEmpty())
        s.folders << QStringLiteral("INBOX");
    s.days = days_->value();
    return s;
}

QString MailboxDialog::problem() const
{
    QString host;
    int port = 0;
    if (!parseMailboxServer(server_->text().trimmed(), &host, &port))
        return QStringLiteral("Enter the IMAP server as host or host:port (port 1 to 65535), as your provider names "
                              "it: imap.example.com:993");
    return {};
}

void MailboxDialog::accept()
{
    if (const QString why = problem(); !why.isEmpty()) {
        problem_->setText(why);
        problem_->show();
        server_->setFocus();
        return;
    }
    QDialog::accept();
}

} // namespace og
