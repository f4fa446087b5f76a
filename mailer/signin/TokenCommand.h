#pragma once
// The access token from a command the vendor names, for machines without a
// browser or keyring (a password manager's helper, a script of their own).
//
// The command is a command line as typed in a terminal, run by /bin/sh -c:
// pipes, quotes and variables work as users expect. It is the vendor's own
// setting, run with their rights, and Ordergate puts nothing into it (no
// user name, server or token), so nothing from outside is ever read as
// shell text. Its standard input is empty; the first line of its standard
// output is the token, never shown, logged or echoed; its standard error is
// shown when it fails. A time-out bounds it: the command and everything it
// started are then stopped.

#include "mailer/signin/AccessTokenSource.h"

#include <chrono>
#include <mutex>

namespace og {

class TokenCommand : public AccessTokenSource {
public:
    static constexpr std::chrono::seconds DefaultTimeout {30};

    explicit TokenCommand(const QString& command, std::chrono::milliseconds timeout = DefaultTimeout)
        : command_(command),
          timeout_(timeout)
    {
    }

    // Runs the command the first time and keeps its token; throws
    // SendFailure when the command failed.
    QString accessToken() override;
    // Runs it again (once for all connections that saw the same token refused).
    QString refusedToken(const QString& refused) override;

    struct Result {
        QString token;
        QString error; // for the user: what failed and the command's standard error
        bool ok() const { return error.isEmpty(); }
    };
    // One run of a command.
    static Result run(const QString& command, std::chrono::milliseconds timeout);

private:
    QString fetch();

    QString command_;
    std::chrono::milliseconds timeout_;
    std::mutex mutex_;
    QString token_;
};

} // namespace og
