#include "publish/SftpSession.h"

#include "publish/PosixRename.h"
#include "publish/PublishError.h"

#include <QDir>

#include <fcntl.h>
#include <libssh/libssh.h>
#include <libssh/sftp.h>

namespace og {

struct SftpSession::Handles {
    ssh_session ssh = nullptr;
    sftp_session sftp = nullptr;
    ~Handles()
    {
        if (sftp)
            sftp_free(sftp);
        if (ssh) {
            ssh_disconnect(ssh);
            ssh_free(ssh);
        }
    }
};

namespace {

QString sftpReason(int code)
{
    switch (code) {
    case SSH_FX_NO_SUCH_FILE:
        return QStringLiteral("no such file");
    case SSH_FX_PERMISSION_DENIED:
        return QStringLiteral("permission denied");
    case SSH_FX_FILE_ALREADY_EXISTS:
        return QStringLiteral("the file already exists");
    case SSH_FX_NO_CONNECTION:
    case SSH_FX_CONNECTION_LOST:
        return QStringLiteral("the connection was lost");
    case SSH_FX_OP_UNSUPPORTED:
        return QStringLiteral("the server does not support this");
    default:
        return QStringLiteral("the server refused (SFTP status %1)").arg(code);
    }
}

QString fingerprintOf(ssh_session ssh)
{
    ssh_key key = nullptr;
    if (ssh_get_server_publickey(ssh, &key) != SSH_OK)
        return {};
    unsigned char* hash = nullptr;
    size_t length = 0;
    QString text;
    if (ssh_get_publickey_hash(key, SSH_PUBLICKEY_HASH_SHA256, &hash, &length) == 0) {
        if (char* printed = ssh_get_fingerprint_hash(SSH_PUBLICKEY_HASH_SHA256, hash, length)) {
            text = QString::fromLatin1(printed);
            ssh_string_free_char(printed);
        }
        ssh_clean_pubkey_hash(&hash);
    }
    ssh_key_free(key);
    return text;
}

} // namespace

QString normalFingerprint(const QString& text)
{
    QString f = text.trimmed();
    if (f.startsWith(u"SHA256:", Qt::CaseInsensitive))
        f = f.mid(7);
    while (f.endsWith(u'='))
        f.chop(1);
    return f.isEmpty() ? QString() : QStringLiteral("SHA256:") + f;
}

SftpSession::SftpSession(const SshTarget& target)
    : h_(std::make_unique<Handles>())
{
    timeoutMs_ = target.timeoutSeconds * 1000;
    where_ = QStringLiteral("%1%2:%3")
                 .arg(target.user.isEmpty() ? QString() : target.user + u'@', target.host)
                 .arg(target.port);
    connectAndCheckKey(target);
    logIn(target);
    h_->sftp = sftp_new(h_->ssh);
    if (!h_->sftp || sftp_init(h_->sftp) != SSH_OK)
        fail(QStringLiteral("SFTP could not be started (is the SFTP subsystem enabled on the server?)"));
}

SftpSession::~SftpSession() = default;

void SftpSession::fail(const QString& what) const
{
    const QString reason = h_->ssh ? QString::fromUtf8(ssh_get_error(h_->ssh)) : QString();
    throw PublishError(
        QStringLiteral("%1: %2%3").arg(where_, what, reason.isEmpty() ? QString() : QStringLiteral(": ") + reason));
}

void SftpSession::failSftp(const QString& what, const QString& path) const
{
    const int code = sftp_get_error(h_->sftp);
    // a dropped connection shows as a status of 0 with the session's error
    const QString reason = code == SSH_FX_OK || ssh_is_connected(h_->ssh) == 0
        ? QStringLiteral("the connection was lost (%1)").arg(QString::fromUtf8(ssh_get_error(h_->ssh)))
        : sftpReason(code);
    throw PublishError(QStringLiteral("%1: %2 %3: %4").arg(where_, what, path, reason));
}

void SftpSession::connectAndCheckKey(const SshTarget& t)
{
    h_->ssh = ssh_new();
    if (!h_->ssh)
        throw PublishError(QStringLiteral("libssh could not make a session"));
    const QByteArray host = t.host.toUtf8(), user = t.user.toUtf8();
    const QByteArray known = QDir::cleanPath(
        QDir::fromNativeSeparators(
            t.knownHosts.isEmpty() ? QDir::homePath() + QStringLiteral("/.ssh/known_hosts") : t.knownHosts))
                                 .toLocal8Bit();
    const unsigned int port = unsigned(t.port);
    const long timeout = t.timeoutSeconds;
    const int no = 0;
    ssh_options_set(h_->ssh, SSH_OPTIONS_PROCESS_CONFIG, &no);
    ssh_options_set(h_->ssh, SSH_OPTIONS_HOST, host.constData());
    ssh_options_set(h_->ssh, SSH_OPTIONS_PORT, &port);
    if (!user.isEmpty())
        ssh_options_set(h_->ssh, SSH_OPTIONS_USER, user.constData());
    ssh_options_set(h_->ssh, SSH_OPTIONS_TIMEOUT, &timeout);
    ssh_options_set(h_->ssh, SSH_OPTIONS_KNOWNHOSTS, known.constData());
    // A file of the vendor's choice is the only one asked.
    if (!t.knownHosts.isEmpty())
        ssh_options_set(h_->ssh, SSH_OPTIONS_GLOBAL_KNOWNHOSTS, known.constData());
    if (ssh_connect(h_->ssh) != SSH_OK)
        fail(QStringLiteral("cannot connect"));

    const QString fingerprint = fingerprintOf(h_->ssh);
    switch (ssh_session_is_known_server(h_->ssh)) {
    case SSH_KNOWN_HOSTS_OK:
        return;
    case SSH_KNOWN_HOSTS_CHANGED:
    case SSH_KNOWN_HOSTS_OTHER:
        throw PublishError(
            QStringLiteral("%1: the server's host key (%2) is not the one in %3: someone may be in between. "
                           "Nothing was sent. If the server's key was really changed, remove its old line "
                           "(ssh-keygen -R HOST) and accept the new one")
                .arg(where_, fingerprint, QString::fromLocal8Bit(known)));
    case SSH_KNOWN_HOSTS_UNKNOWN:
    case SSH_KNOWN_HOSTS_NOT_FOUND:
        break;
    case SSH_KNOWN_HOSTS_ERROR:
        fail(QStringLiteral("the known hosts file %1 cannot be read").arg(QString::fromLocal8Bit(known)));
    }
    if (fingerprint.isEmpty() || normalFingerprint(t.acceptedFingerprint) != fingerprint)
        throw UnknownHostKey(QStringLiteral("%1: the server's host key is not known (fingerprint %2). Nothing was "
                                            "sent. Compare it with the server's own (ssh-keygen -l -f on its host "
                                            "key) and accept it to go on")
                                 .arg(where_, fingerprint),
            fingerprint);
    if (ssh_session_update_known_hosts(h_->ssh) != SSH_OK)
        fail(QStringLiteral("the accepted host key could not be added to %1").arg(QString::fromLocal8Bit(known)));
}

void SftpSession::logIn(const SshTarget& t)
{
    // "none" first: it tells which methods the server takes.
    int rc = ssh_userauth_none(h_->ssh, nullptr);
    if (rc == SSH_AUTH_SUCCESS)
        return;
    if (rc == SSH_AUTH_ERROR)
        fail(QStringLiteral("the login failed"));
    const int methods = ssh_userauth_list(h_->ssh, nullptr);
    if ((methods & SSH_AUTH_METHOD_PUBLICKEY) && !qEnvironmentVariableIsEmpty("SSH_AUTH_SOCK") &&
        ssh_userauth_agent(h_->ssh, nullptr) == SSH_AUTH_SUCCESS)
        return;
    if (!t.keyFile.isEmpty()) {
        ssh_key key = nullptr;
        const QByteArray path = t.keyFile.toLocal8Bit();
        if (ssh_pki_import_privkey_file(path.constData(), nullptr, nullptr, nullptr, &key) != SSH_OK)
            throw PublishError(QStringLiteral("The key file %1 cannot be read (a key with a passphrase needs the "
                                              "SSH agent)")
                                   .arg(t.keyFile));
        rc = (methods & SSH_AUTH_METHOD_PUBLICKEY) ? ssh_userauth_publickey(h_->ssh, nullptr, key) : SSH_AUTH_DENIED;
        ssh_key_free(key);
        if (rc == SSH_AUTH_SUCCESS)
            return;
    }
    if ((methods & SSH_AUTH_METHOD_PASSWORD) && t.password) {
        const QString password = t.password();
        if (!password.isEmpty()) {
            const QByteArray bytes = password.toUtf8();
            if (ssh_userauth_password(h_->ssh, nullptr, bytes.constData()) == SSH_AUTH_SUCCESS)
                return;
            throw PublishError(QStringLiteral("%1: the server refused the password").arg(where_));
        }
    }
    throw PublishError(QStringLiteral("%1: the server refused the login. Load the key into the SSH agent, give a key "
                                      "file, or keep the password in the desktop keyring")
                           .arg(where_));
}

std::optional<QByteArray> SftpSession::read(const QString& path)
{
    const QByteArray p = path.toUtf8();
    sftp_file file = sftp_open(h_->sftp, p.constData(), O_RDONLY, 0);
    if (!file) {
        if (sftp_get_error(h_->sftp) == SSH_FX_NO_SUCH_FILE)
            return std::nullopt;
        failSftp(QStringLiteral("cannot open"), path);
    }
    QByteArray bytes;
    char buffer[32768];
    for (;;) {
        const ssize_t n = sftp_read(file, buffer, sizeof buffer);
        if (n < 0) {
            sftp_close(file);
            failSftp(QStringLiteral("cannot read"), path);
        }
        if (n == 0)
            break;
        bytes.append(buffer, n);
    }
    sftp_close(file);
    return bytes;
}

void SftpSession::create(const QString& path, QByteArrayView bytes, int mode)
{
    const QByteArray p = path.toUtf8();
    sftp_file file = sftp_open(h_->sftp, p.constData(), O_WRONLY | O_CREAT | O_EXCL, mode_t(mode));
    if (!file)
        failSftp(QStringLiteral("cannot create"), path);
    for (qsizetype done = 0; done < bytes.size();) {
        const ssize_t n =
            sftp_write(file, bytes.data() + done, size_t(std::min<qsizetype>(bytes.size() - done, 32768)));
        if (n <= 0) {
            sftp_close(file);
            failSftp(QStringLiteral("cannot write"), path);
        }
        done += n;
    }
    if (sftp_extension_supported(h_->sftp, "fsync@openssh.com", "1") && sftp_fsync(file) != 0) {
        sftp_close(file);
        failSftp(QStringLiteral("cannot flush"), path);
    }
    if (sftp_close(file) != SSH_NO_ERROR)
        failSftp(QStringLiteral("cannot close"), path);
}

void SftpSession::replace(const QString& from, const QString& to)
{
    // Plain SFTP renames only onto a free name; OpenSSH's posix-rename
    // replaces in one step.
    if (!sftp_extension_supported(h_->sftp, "posix-rename@openssh.com", "1"))
        throw PublishError(QStringLiteral("%1: the SFTP server cannot replace a file in one step "
                                          "(posix-rename@openssh.com); nothing was replaced")
                               .arg(where_));
    const QString why = posixRename(h_->ssh, from.toUtf8(), to.toUtf8(), timeoutMs_);
    if (!why.isEmpty())
        throw PublishError(QStringLiteral("%1: cannot rename %2 to %3: %4").arg(where_, from, to, why));
}

void SftpSession::setMode(const QString& path, int mode)
{
    const QByteArray p = path.toUtf8();
    if (sftp_chmod(h_->sftp, p.constData(), mode_t(mode)) != 0)
        failSftp(QStringLiteral("cannot set the mode of"), path);
}

void SftpSession::remove(const QString& path)
{
    const QByteArray p = path.toUtf8();
    if (sftp_unlink(h_->sftp, p.constData()) != 0)
        failSftp(QStringLiteral("cannot remove"), path);
}

std::vector<SftpSession::Entry> SftpSession::list(const QString& folder)
{
    const QByteArray p = folder.toUtf8();
    sftp_dir dir = sftp_opendir(h_->sftp, p.constData());
    if (!dir)
        failSftp(QStringLiteral("cannot list the folder"), folder);
    std::vector<Entry> entries;
    while (sftp_attributes a = sftp_readdir(h_->sftp, dir)) {
        const QString name = QString::fromUtf8(a->name);
        if (name != u"." && name != u"..")
            entries.push_back({name, a->type == SSH_FILEXFER_TYPE_REGULAR});
        sftp_attributes_free(a);
    }
    const bool whole = sftp_dir_eof(dir);
    sftp_closedir(dir);
    if (!whole)
        failSftp(QStringLiteral("cannot list the folder"), folder);
    return entries;
}

} // namespace og
