#include "tests/support/Dovecot.h"

#include "tests/support/ServerProcess.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QThread>

#include <pwd.h>
#include <unistd.h>

namespace og::test {

namespace {

void write(const QString& path, const QByteArray& text)
{
    QFile file(path);
    if (file.open(QIODevice::WriteOnly))
        file.write(text);
}

int dovecotMajorMinor()
{
    QProcess version;
    version.start(QStringLiteral("dovecot"), {QStringLiteral("--version")});
    version.waitForFinished(10000);
    const QList<QByteArray> parts = version.readAllStandardOutput().split('.');
    return parts.value(0).toInt() * 100 + parts.value(1).toInt();
}

// The configuration: 2.4 renamed most of what a test needs.
QByteArray config(const QString& dir, int plain, int tls, bool root, const QString& tokenCheck)
{
    const QByteArray d = dir.toUtf8();
    const passwd* me = ::getpwuid(::geteuid());
    const QByteArray self = me ? me->pw_name : "nobody";
    // As root the mail belongs to nobody: dovecot refuses mail as root.
    const QByteArray uid = root ? "65534" : QByteArray::number(::geteuid());
    const QByteArray gid = root ? "65534" : QByteArray::number(::getegid());
    const QByteArray users = root ? "default_login_user = dovenull\ndefault_internal_user = dovecot\n"
                                  : "default_login_user = " + self + "\ndefault_internal_user = " + self + "\n";
    const bool v24 = dovecotMajorMinor() >= 204;
    QByteArray c = v24 ? "dovecot_config_version = 2.4.0\ndovecot_storage_version = 2.4.0\n" : "";
    c += "base_dir = " + d + "/run\nstate_dir = " + d + "/state\ninstance_name = og-test-" + QByteArray::number(plain) +
        "\nlog_path = " + d + "/dovecot.log\nprotocols = imap\nlisten = 127.0.0.1\n" + users +
        "first_valid_uid = 1\nssl = yes\nauth_mechanisms = plain login" +
        (tokenCheck.isEmpty() ? "" : " xoauth2 oauthbearer") + "\n";
    const QByteArray listeners =
        "service imap-login {\n  chroot =\n  inet_listener imap {\n    port = " + QByteArray::number(plain) +
        "\n  }\n  inet_listener imaps {\n    port = " + QByteArray::number(tls) +
        "\n    ssl = yes\n  }\n}\nservice anvil {\n  chroot =\n}\n";
    if (v24)
        c += "ssl_server_cert_file = " + d + "/cert.pem\nssl_server_key_file = " + d +
            "/key.pem\nauth_allow_cleartext = yes\npassdb passwd-file {\n  passwd_file_path = " + d +
            "/passwd\n}\nuserdb static {\n  fields {\n    uid = " + uid + "\n    gid = " + gid + "\n    home = " + d +
            "/home/%{user}\n  }\n}\nmail_driver = maildir\nmail_path = " + d + "/home/%{user}/Maildir\n";
    else
        c += "ssl_cert = <" + d + "/cert.pem\nssl_key = <" + d +
            "/key.pem\ndisable_plaintext_auth = no\npassdb {\n  driver = passwd-file\n  args = " + d +
            "/passwd\n}\nuserdb {\n  driver = static\n  args = uid=" + uid + " gid=" + gid + " home=" + d +
            "/home/%{user}\n}\nmail_location = maildir:" + d + "/home/%{user}/Maildir\n";
    // A token is no password: 2.3 asks its oauth2 passdb once the
    // passwd-file refused it; 2.4's mechanisms ask the authorization server
    // themselves, GET url + token, the answer's "user" to be the login.
    if (!tokenCheck.isEmpty() && v24)
        c += "oauth2 {\n  introspection_mode = get\n  introspection_url = " + tokenCheck.toUtf8() +
            "\n  username_attribute = user\n}\n";
    else if (!tokenCheck.isEmpty())
        c += "passdb {\n  driver = oauth2\n  args = " + d + "/oauth2.conf.ext\n}\n";
    return c + listeners;
}

} // namespace

Dovecot::Dovecot()
{
    QFile::setPermissions(dir_.path(),
        QFile::permissions(dir_.path()) | QFile::ExeOther | QFile::ExeGroup | QFile::ReadOther | QFile::ReadGroup);
    QDir(dir_.path()).mkpath(QStringLiteral("home/vendor/Maildir"));
}

Dovecot::~Dovecot()
{
    if (process_.state() != QProcess::NotRunning) {
        process_.terminate();
        if (!process_.waitForFinished(10000)) {
            process_.kill();
            process_.waitForFinished(5000);
        }
    }
}

QString Dovecot::caFile() const
{
    return dir_.filePath(QStringLiteral("cert.pem"));
}

bool Dovecot::start()
{
    const bool root = ::geteuid() == 0;
    QProcess openssl;
    openssl.start(QStringLiteral("openssl"),
        {QStringLiteral("req"), QStringLiteral("-x509"), QStringLiteral("-newkey"), QStringLiteral("rsa:2048"),
            QStringLiteral("-nodes"), QStringLiteral("-keyout"), dir_.filePath(QStringLiteral("key.pem")),
            QStringLiteral("-out"), caFile(), QStringLiteral("-days"), QStringLiteral("2"), QStringLiteral("-subj"),
            QStringLiteral("/CN=localhost"), QStringLiteral("-addext"),
            QStringLiteral("subjectAltName=IP:127.0.0.1,DNS:localhost")});
    if (!openssl.waitForFinished(30000) || openssl.exitCode() != 0) {
        why_ = QStringLiteral("openssl made no certificate");
        return false;
    }
    write(dir_.filePath(QStringLiteral("passwd")), (user() + QStringLiteral(":{PLAIN}") + password()).toUtf8() + "\n");
    if (!tokenCheck_.isEmpty()) {
        write(dir_.filePath(QStringLiteral("oauth2.conf.ext")),
            "tokeninfo_url = " + tokenCheck_.toUtf8() + "\nusername_attribute = user\n");
        QFile::setPermissions(dir_.filePath(QStringLiteral("oauth2.conf.ext")),
            QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther | QFile::WriteOwner);
    }
    QFile::setPermissions(dir_.filePath(QStringLiteral("passwd")),
        QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther | QFile::WriteOwner);
    if (root) {
        QProcess::execute(QStringLiteral("chown"),
            {QStringLiteral("-R"), QStringLiteral("65534:65534"), dir_.filePath(QStringLiteral("home"))});
    }
    for (int attempt = 0; attempt < 3; ++attempt) {
        plainPort_ = freeLoopbackPort();
        tlsPort_ = freeLoopbackPort();
        const QString conf = dir_.filePath(QStringLiteral("dovecot.conf"));
        write(conf, config(dir_.path(), plainPort_, tlsPort_, root, tokenCheck_));
        process_.setProcessChannelMode(QProcess::MergedChannels);
        process_.start(QStringLiteral("dovecot"), {QStringLiteral("-F"), QStringLiteral("-c"), conf});
        if (!process_.waitForStarted(10000)) {
            why_ = QStringLiteral("dovecot did not start: ") + process_.errorString();
            return false;
        }
        QElapsedTimer clock;
        clock.start();
        while (clock.elapsed() < 15000 && process_.state() == QProcess::Running) {
            if (treeListensOn(process_.processId(), plainPort_) && treeListensOn(process_.processId(), tlsPort_))
                return true;
            QThread::msleep(50);
        }
        process_.kill();
        process_.waitForFinished(5000);
        QFile log(dir_.filePath(QStringLiteral("dovecot.log")));
        log.open(QIODevice::ReadOnly);
        why_ = QStringLiteral("dovecot did not come up: ") + QString::fromUtf8(process_.readAll()) +
            QString::fromUtf8(log.readAll().right(2000));
    }
    return false;
}

QString Dovecot::maildir(const QString& folder) const
{
    const QString root = dir_.filePath(QStringLiteral("home/vendor/Maildir"));
    return folder == u"INBOX" ? root : root + QStringLiteral("/.") + folder;
}

void Dovecot::deliver(const QString& folder, const QByteArray& message)
{
    const QString dir = maildir(folder);
    for (const char* sub : {"new", "cur", "tmp"})
        QDir().mkpath(dir + u'/' + QLatin1String(sub));
    const QString name =
        dir + QStringLiteral("/new/%1.%2.og-test").arg(QDateTime::currentSecsSinceEpoch()).arg(++delivered_);
    write(name, message);
    if (::geteuid() == 0)
        QProcess::execute(QStringLiteral("chown"), {QStringLiteral("-R"), QStringLiteral("65534:65534"), dir});
}

QStringList Dovecot::messageFiles(const QString& folder) const
{
    QStringList names;
    for (const char* sub : {"new", "cur"}) {
        for (const QString& name : QDir(maildir(folder) + u'/' + QLatin1String(sub)).entryList(QDir::Files))
            names << QLatin1String(sub) + u'/' + name;
    }
    names.sort();
    return names;
}

} // namespace og::test
