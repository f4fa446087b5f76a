#pragma once
// The real servers of the publishing tests, started on 127.0.0.1 with
// configurations of the test's own and stopped by it: Debian's OpenSSH
// server (a host key, the test's login key, internal SFTP) and Debian's
// Apache serving a folder protected by the published .htpasswd (Basic
// authentication, plain HTTP on loopback). Each runs under timeout(1), so
// not even a crashed test leaves one behind for long.

#include "publish/PublishSettings.h"

#include <QProcess>
#include <QString>
#include <QTemporaryDir>

namespace og::test {

class PublishServers {
public:
    PublishServers();
    ~PublishServers();
    PublishServers(const PublishServers&) = delete;
    PublishServers& operator=(const PublishServers&) = delete;

    // Both servers up; false with the reason in why (then the test skips:
    // a machine without the packages or /run/sshd).
    bool start(QString* why);
    bool startSsh(QString* why);
    // Kills sshd and every connection it serves, at once.
    void killSsh();

    // The published folder (Apache's document root), holding the protected
    // file setup.zip and an .htaccess.
    QString site() const { return root_.path() + QStringLiteral("/site"); }
    QString siteFile(const QString& name) const { return site() + u'/' + name; }
    QString checkUrl() const { return QStringLiteral("http://127.0.0.1:%1/setup.zip").arg(httpPort_); }
    QString keyFile() const { return root_.path() + QStringLiteral("/client_key"); }
    // A known hosts file that holds the server's key; another that holds a
    // different key for it.
    QString knownHosts() const { return root_.path() + QStringLiteral("/known_hosts"); }
    QString wrongKnownHosts() const { return root_.path() + QStringLiteral("/wrong_known_hosts"); }
    // "SHA256:..." of the server's host key, as ssh-keygen -l prints it.
    QString hostFingerprint() const;
    int sshPort() const { return sshPort_; }
    // Settings that reach these servers as the test's user with its key.
    PublishSettings settings() const;
    // The test's own folder for anything else (a program folder).
    QString scratch() const { return root_.path() + QStringLiteral("/program/"); }

private:
    bool startApache(QString* why);
    // One start on the chosen port; false when the server did not come to
    // listen there (another took the port first).
    bool launchSsh();
    bool launchApache();
    QTemporaryDir root_;
    QProcess ssh_, apache_;
    int sshPort_ = 0, httpPort_ = 0;
};

} // namespace og::test
