#pragma once
// A connection to the vendor's mailbox over IMAP. libcurl makes the
// connection, its TLS (implicit or STARTTLS, the certificate's check) and
// the login (a password, or a bearer token by XOAUTH2 or OAUTHBEARER); the
// few commands after it are our own, so that every folder is opened with
// EXAMINE (read-only) and every message fetched with BODY.PEEK: reading
// never deletes, moves or flags anything, not even "seen".

#include "mailbox/MailboxSettings.h"

#include <QByteArray>
#include <QDate>
#include <QList>
#include <QString>

#include <memory>

namespace og {

class ImapReplyReader;

// How to log in: a user with a password, or with an access token.
struct ImapLogin {
    QString user;
    QString password;
    QString bearer; // an OAuth2 access token: XOAUTH2 or OAUTHBEARER, as the server offers
};

class ImapConnection {
public:
    // Connects and logs in. Throws MailboxFailure, MailboxLoginRefused for
    // a refused login.
    ImapConnection(const MailboxServer& server, const ImapLogin& login);
    ~ImapConnection();
    ImapConnection(const ImapConnection&) = delete;
    ImapConnection& operator=(const ImapConnection&) = delete;

    struct Folder {
        quint32 uidValidity = 0;
        quint32 messages = 0;
    };
    // Opens the folder read-only. Throws MailboxFailure (a folder that does
    // not exist among them).
    Folder examine(const QString& name);
    // The UIDs of the open folder's messages that arrived on or after day.
    QList<quint32> searchSince(const QDate& day);
    // The message's first limit bytes; empty when it has gone meanwhile.
    QByteArray fetch(quint32 uid, qsizetype limit);
    // Ends the session politely; errors are no longer of interest then.
    void logout();

    // A folder name as IMAP writes it: modified UTF-7 (RFC 3501) in quotes.
    static QByteArray quotedFolder(const QString& name);

private:
    ImapReplyReader command(const QByteArray& text, qsizetype limit = 1 << 20);
    void send(const QByteArray& bytes);
    void wait(bool forWriting);
    [[noreturn]] void fail(const QString& what);

    struct Curl;
    std::unique_ptr<Curl> curl_;
    QString where_; // "host:port" for the messages
    int timeoutSeconds_;
    int nextTag_ = 1;
    bool open_ = false;
};

} // namespace og
