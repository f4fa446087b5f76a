#pragma once
// The one failure of the mailer's engine: every piece of a run (the message,
// the sign-in, the journal, the log) throws it, and the window and the
// command line show its text as it stands.

#include <QString>

#include <stdexcept>

namespace og {

// A failure of the run after the checks: the message is shown to the vendor
// as it stands (the transport's and the file system's own texts).
class SendFailure : public std::runtime_error {
public:
    explicit SendFailure(const QString& message);
    QString message() const { return QString::fromUtf8(what()); }
    // The server's port speaks TLS from the first byte: the message says to
    // choose TLS, and the command line adds its option.
    bool tlsFromStart = false;
    // No connection to the server could be had (refused, no route, no such
    // host): the message is the system's, and what to check comes from the
    // window or the command line.
    bool unreachable = false;
};

// "Unable to write to " + path, then ": " + the system's reason when known.
QString writeFailureText(const QString& path, const QString& reason);

} // namespace og
