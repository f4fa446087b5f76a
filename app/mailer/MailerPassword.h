#pragma once
// The login password of the mailer window. It lives in the desktop keyring
// (under "user@host") when the vendor asks to remember it, in the password
// field while the window is open, and nowhere else: never in the settings
// file, the log or a status text. Without a keyring it is asked for at each
// run, and the window says why.

#include "platform/Platform.h"

#include <QString>

namespace og {

class MailerPassword {
public:
    explicit MailerPassword(Platform& platform)
        : platform_(platform)
    {
    }

    // The keyring's key: the user name and the server's host, without port.
    static QString keyFor(const QString& userName, const QString& server);

    struct Remembered {
        QString password; // empty when none is remembered
        bool found = false;
    };
    // The remembered password for the login; nothing without a user name.
    Remembered load(const QString& userName, const QString& server);

    // Keeps the password in the keyring (remember) or takes out the one
    // found there.
    // An empty text, or a text for the status line when the keyring failed.
    QString keep(const QString& userName, const QString& server, const QString& password, bool remember);

    // Asks for the password of one run; false when the vendor cancelled.
    bool ask(QWidget* parent, const QString& userName, const QString& server, QString* password);

    // False once the platform said there is no keyring; why says so.
    bool keyringAvailable() const { return keyringAvailable_; }
    QString why() const;

private:
    void note(const Platform::KeyringReply& reply);

    Platform& platform_;
    bool keyringAvailable_ = true;
    bool stored_ = false; // the keyring holds a password for the last key seen
    QString keyringReason_;
};

} // namespace og
