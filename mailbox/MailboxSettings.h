#pragma once
// Where the vendor's mailbox is and what of it to read: the [mailbox]
// section of the settings file, one table of keys (MailboxSettings.cpp).

#include <QString>
#include <QStringList>

namespace og {

// How the connection is secured: Automatic is implicit TLS on port 993 and
// STARTTLS (required) on any other; None sends even the password in plain
// text, so only a vendor's explicit choice gives it.
enum class MailboxSecurity { Automatic, StartTls, Tls, None };

// How to reach the server; port 0 means the security's default.
struct MailboxServer {
    QString host;
    int port = 0;
    MailboxSecurity security = MailboxSecurity::Automatic;
    QString caFile; // trust this authority's PEM file instead of the system's
    bool noVerify = false;
    int timeoutSeconds = 60;
};

// The port a server without one gets: 993 for Tls, else 143.
int defaultImapPort(MailboxSecurity security);

enum class MailboxLogin { Password, OAuth2, TokenCommand };

struct MailboxSettings {
    QString server;                                        // [mailbox] server: "host" or "host:port"
    MailboxSecurity security = MailboxSecurity::Automatic; // [mailbox] security
    QString user;                                          // [mailbox] login: empty = the mailer's login
    MailboxLogin login = MailboxLogin::Password;           // [mailbox] auth
    QStringList folders {QStringLiteral("INBOX")};         // [mailbox] folders: separated by ";"
    int days = 30;                                         // [mailbox] days: how far back a first read goes
    QString caFile;                                        // [mailbox] cafile
    bool noVerify = false;                                 // [mailbox] nocheck

    bool operator==(const MailboxSettings&) const = default;

    // A missing file or key leaves the default.
    void load(const QString& settingsPath);
    // Throws ProfileWriteError.
    void save(const QString& settingsPath) const;
};

// "host", "host:port", "[v6]:port"; false for a port that is no number from
// 1 to 65535 or a host that is missing.
bool parseMailboxServer(const QString& text, QString* host, int* port);

// The words of the settings file and the command line (auto, starttls,
// tls, none; password, oauth2, command), case ignored.
QString mailboxSecurityWord(MailboxSecurity security);
bool parseMailboxSecurity(const QString& text, MailboxSecurity* security);
QString mailboxLoginWord(MailboxLogin login);
bool parseMailboxLogin(const QString& text, MailboxLogin* login);

// The desktop keyring's key for the mailbox's password: the same form as the
// mailer's ("user@host"), so a server that serves both shares one password.
QString mailboxKeyringKey(const QString& user, const QString& host);

} // namespace og
