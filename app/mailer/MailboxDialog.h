#pragma once
// The [mailbox] settings as fields, for "Check for bounces...": the IMAP
// server, its security, the login (empty: the mailer's), the folders and how
// far back a first read goes; "Check" keeps them and reads the mailbox. What
// it keeps goes through MailboxSettings' table into the settings file; the
// password is never one of its fields (the check asks for it and the keyring
// keeps it).

#include "mailbox/MailboxSettings.h"

#include <QDialog>

class QComboBox;
class QLabel;
class QLineEdit;
class QSpinBox;

namespace og {

class MailboxDialog : public QDialog {
    Q_OBJECT
public:
    MailboxDialog(QWidget* parent, const MailboxSettings& settings);

    // What the fields say, over the settings it was opened with (the keys it
    // has no field for stay).
    MailboxSettings settings() const;
    // The server field's problem, or empty when it names a server.
    QString problem() const;

    void accept() override;

private:
    MailboxSettings settings_;
    QLineEdit* server_;
    QComboBox* security_;
    QLineEdit* user_;
    QLineEdit* folders_;
    QSpinBox* days_;
    QLabel* problem_; // why "Check" did not close the dialog
};

} // namespace og
