#pragma once
// The one family the mailbox's reading throws: the server could not be
// reached, refused the login, answered what IMAP does not allow, or the
// program folder's state could not be written. The message is for the user
// and never holds a password or token.

#include <QString>

#include <stdexcept>

namespace og {

class MailboxFailure : public std::runtime_error {
public:
    explicit MailboxFailure(const QString& message)
        : std::runtime_error(message.toStdString())
    {
    }
    QString message() const { return QString::fromUtf8(what()); }
};

// The server refused the login. A login by token may renew the token once
// and try again.
class MailboxLoginRefused : public MailboxFailure {
public:
    using MailboxFailure::MailboxFailure;
};

} // namespace og
