#pragma once
// One SSH connection to the web server with its SFTP channel: the host key
// checked against the known hosts file, the login by the SSH agent, a key
// file or a password, and the few file operations a publish needs. Every
// failure throws PublishError (UnknownHostKey for a key not yet known)
// naming the server or file and the library's reason.

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <optional>

namespace og {

struct SshTarget {
    QString host;
    int port = 22;
    QString user;       // empty: the local user
    QString keyFile;    // empty: none
    QString knownHosts; // empty: ~/.ssh/known_hosts
    // Asked only when the agent and the key file did not log in; empty:
    // no password.
    std::function<QString()> password;
    // "SHA256:..." the vendor accepted for a host not yet known; it is added
    // to the known hosts file. A changed key is refused whatever this says.
    QString acceptedFingerprint;
    int timeoutSeconds = 30;
};

class SftpSession {
public:
    // Connects, checks the host key, logs in and opens SFTP.
    explicit SftpSession(const SshTarget& target);
    ~SftpSession();
    SftpSession(const SftpSession&) = delete;
    SftpSession& operator=(const SftpSession&) = delete;

    // The file's bytes; nullopt when there is no such file.
    std::optional<QByteArray> read(const QString& path);
    // A new file (never an existing one) with these bytes and this mode,
    // flushed to the server's disk where the server can.
    void create(const QString& path, QByteArrayView bytes, int mode);
    // Renames from over to in one step (the old to is replaced, never
    // missing in between).
    void replace(const QString& from, const QString& to);
    void setMode(const QString& path, int mode);
    void remove(const QString& path);
    // The names in folder (without "." and ".."), each with whether it is a
    // regular file.
    struct Entry {
        QString name;
        bool regular;
    };
    std::vector<Entry> list(const QString& folder);

    // What the connection is, for messages: "user@host:port".
    const QString& where() const { return where_; }

private:
    struct Handles;
    void connectAndCheckKey(const SshTarget& target);
    void logIn(const SshTarget& target);
    [[noreturn]] void fail(const QString& what) const;
    [[noreturn]] void failSftp(const QString& what, const QString& path) const;

    std::unique_ptr<Handles> h_;
    QString where_;
    int timeoutMs_ = 30000;
};

// An SHA-256 fingerprint as the vendor may type it: "SHA256:" optional,
// Base64 with or without its padding. Empty when text is none.
QString normalFingerprint(const QString& text);

} // namespace og
