#include "app/mailer/MailerPassword.h"

#include "mailer/MailerSettings.h"

namespace og {

QString MailerPassword::keyFor(const QString& userName, const QString& server)
{
    return userName + u'@' + parseServerAddress(server).host;
}

void MailerPassword::note(const Platform::KeyringReply& reply)
{
    keyringAvailable_ = reply.status != Platform::KeyringStatus::NoKeyring;
    keyringReason_ = keyringAvailable_ ? QString() : reply.why;
}

QString MailerPassword::why() const
{
    if (keyringAvailable_)
        return {};
    QString text = QStringLiteral("No desktop keyring is available");
    if (!keyringReason_.isEmpty())
        text += QStringLiteral(" (") + keyringReason_ + u')';
    return text + QStringLiteral(", so the password is asked for at each run");
}

MailerPassword::Remembered MailerPassword::load(const QString& userName, const QString& server)
{
    Remembered remembered;
    if (userName.isEmpty())
        return remembered;
    const Platform::KeyringReply reply = platform_.readPassword(keyFor(userName, server));
    note(reply);
    remembered.found = stored_ = reply.status == Platform::KeyringStatus::Done;
    if (remembered.found)
        remembered.password = reply.password;
    return remembered;
}

QString MailerPassword::keep(const QString& userName, const QString& server, const QString& password, bool remember)
{
    remember = remember && !password.isEmpty();
    // Nothing to take out of the keyring that this window has not seen in it.
    if (userName.isEmpty() || !keyringAvailable_ || (!remember && !stored_))
        return {};
    const QString key = keyFor(userName, server);
    const Platform::KeyringReply reply =
        remember ? platform_.writePassword(key, password) : platform_.deletePassword(key);
    note(reply);
    stored_ = remember && reply.status == Platform::KeyringStatus::Done;
    if (reply.status == Platform::KeyringStatus::Failed)
        return QStringLiteral("The password could not be %1 the desktop keyring: %2")
            .arg(remember ? QStringLiteral("kept in") : QStringLiteral("removed from"), reply.why);
    return why();
}

bool MailerPassword::ask(QWidget* parent, const QString& userName, const QString& server, QString* password)
{
    QString text = QStringLiteral("Password for %1 at %2:").arg(userName, parseServerAddress(server).host);
    if (!keyringAvailable_)
        text = why() + QStringLiteral(".\r") + text;
    return platform_.askPassword(parent, text, password) && !password->isEmpty();
}

} // namespace og
