#pragma once
// Debian's dovecot as the vendor's IMAP server: started by the test on
// 127.0.0.1 with a configuration of its own in a temporary folder (a
// passwd-file with one user, a Maildir, a certificate of its own for TLS and
// STARTTLS), in the foreground as a child of the test, stopped by it. Runs
// as root (then its mail belongs to nobody) or as the user running the test.

#include <QProcess>
#include <QString>
#include <QTemporaryDir>

namespace og::test {

class Dovecot {
public:
    Dovecot();
    ~Dovecot();
    Dovecot(const Dovecot&) = delete;
    Dovecot& operator=(const Dovecot&) = delete;

    // Before start(): logins by OAuth2 token (XOAUTH2, OAUTHBEARER) too,
    // checked by a GET of url + the token (the authorization server's
    // /check?token=) whose "user" must be the login.
    void setTokenCheck(const QString& url) { tokenCheck_ = url; }
    // Starts it; false with why() when it did not come up within 15 s.
    bool start();
    QString why() const { return why_; }

    int plainPort() const { return plainPort_; } // plain, STARTTLS offered
    int tlsPort() const { return tlsPort_; }     // TLS from the first byte
    QString caFile() const;                      // its certificate, to trust
    static QString user() { return QStringLiteral("vendor"); }
    static QString password() { return QStringLiteral("s3cret pass"); }

    // The users' homes: the vendor's mail is in vendor/Maildir, where a mail
    // server beside it may deliver too (as nobody, when root).
    QString homes() const { return dir_.filePath(QStringLiteral("home")); }
    // Puts a message into a folder ("INBOX" or another, made as needed), as
    // delivered mail is put: into new/, unread.
    void deliver(const QString& folder, const QByteArray& message);
    // The file names of a folder's messages, flags included: what reading
    // must leave as it was.
    QStringList messageFiles(const QString& folder) const;

private:
    QString maildir(const QString& folder) const;
    QTemporaryDir dir_;
    QProcess process_;
    int plainPort_ = 0, tlsPort_ = 0;
    int delivered_ = 0;
    QString tokenCheck_;
    QString why_;
};

} // namespace og::test
