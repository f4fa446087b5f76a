#pragma once
// The check by logging in: a protected file's headers fetched (HEAD) with
// an account's user and password, as a customer's browser would. A new or
// changed account should get in (200), a removed one should not (401).
// Passwords go to libcurl in memory, never on a command line.

#include <QByteArray>
#include <QString>

#include <vector>

namespace og {

struct LoginProbe {
    QByteArray user, password;
    bool shouldGetIn = true;
};

struct LoginOutcome {
    QByteArray user;
    bool shouldGetIn = true;
    long status = 0; // the HTTP status; 0 when no answer came
    QString error;   // why no answer came
    bool passed() const { return shouldGetIn ? status == 200 : status == 401; }
    // "user: 200, got in as expected" and the like; never the password.
    QString describe() const;
};

// Why url cannot serve for the check, or empty: it must be https (plain
// http only on this machine's loopback, where no password leaves it).
QString checkUrlProblem(const QString& url);

// One request per probe, in order; each bounded by timeoutSeconds.
std::vector<LoginOutcome> checkLogins(const QString& url, const std::vector<LoginProbe>& probes, int timeoutSeconds);

} // namespace og
