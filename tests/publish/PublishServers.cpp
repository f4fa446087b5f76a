#include "tests/publish/PublishServers.h"

#include "tests/support/ServerProcess.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QThread>

#include <pwd.h>
#include <unistd.h>

namespace og::test {

namespace {

constexpr int kServerSeconds = 300; // the longest any server lives

bool writeFile(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes) == bytes.size();
}

QByteArray readFile(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

bool run(const QString& program, const QStringList& args, QString* why)
{
    QProcess p;
    p.start(program, args);
    if (p.waitForFinished(30000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0)
        return true;
    *why = program + QStringLiteral(" failed: ") + QString::fromLocal8Bit(p.readAllStandardError());
    return false;
}

// True once the server we started listens on the port: a connection alone
// could reach a server another test started on the same port in between.
bool waitForPort(int port, QProcess& process)
{
    if (!process.waitForStarted(5000))
        return false;
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < 10000 && process.state() == QProcess::Running) {
        if (treeListensOn(process.processId(), port))
            return true;
        QThread::msleep(50);
    }
    return false;
}

void stop(QProcess& p)
{
    if (p.state() == QProcess::NotRunning)
        return;
    p.terminate();
    if (!p.waitForFinished(5000)) {
        killTree(p.processId());
        p.waitForFinished(2000);
    }
}

QString userName()
{
    const passwd* pw = getpwuid(geteuid());
    return pw ? QString::fromLocal8Bit(pw->pw_name) : QString();
}

} // namespace

PublishServers::PublishServers()
{
    // Apache serves as www-data when started as root: the folders must be
    // readable by others.
    QFile::setPermissions(root_.path(), QFile::permissions(root_.path()) | QFile::ReadOther | QFile::ExeOther);
}

PublishServers::~PublishServers()
{
    stop(apache_);
    stop(ssh_);
}

bool PublishServers::start(QString* why)
{
    const QString r = root_.path();
    if (!QDir().mkpath(site()) || !QDir().mkpath(scratch()) ||
        !writeFile(siteFile(QStringLiteral("setup.zip")), "zip") ||
        !writeFile(siteFile(QStringLiteral(".htaccess")), "# the server's configuration protects this folder\n")) {
        *why = QStringLiteral("cannot write the test's folders");
        return false;
    }
    for (const char* key : {"host_key", "client_key", "other_key"}) {
        if (!run(QStringLiteral("ssh-keygen"),
                {QStringLiteral("-q"), QStringLiteral("-t"), QStringLiteral("ed25519"), QStringLiteral("-N"), QString(),
                    QStringLiteral("-f"), r + u'/' + QLatin1String(key)},
                why))
            return false;
    }
    writeFile(r + QStringLiteral("/authorized_keys"), readFile(keyFile() + QStringLiteral(".pub")));
    return startSsh(why) && startApache(why);
}

bool PublishServers::startSsh(QString* why)
{
    const QString r = root_.path();
    // sshd wants its privilege separation folder even when it runs as the user.
    if (!QFileInfo::exists(QStringLiteral("/run/sshd")) && !QDir().mkpath(QStringLiteral("/run/sshd"))) {
        *why = QStringLiteral("/run/sshd is missing and cannot be made");
        return false;
    }
    // A restart keeps its port: the known hosts and the requests name it.
    const bool restart = sshPort_ != 0;
    for (int attempt = 0; attempt < 3; ++attempt) {
        if (!restart)
            sshPort_ = freeLoopbackPort();
        if (launchSsh())
            return true;
        stop(ssh_);
        if (restart)
            break;
    }
    *why = QStringLiteral("sshd did not start on port %1").arg(sshPort_);
    return false;
}

bool PublishServers::launchSsh()
{
    const QString r = root_.path();
    const QByteArray host = QStringLiteral("[127.0.0.1]:%1 ").arg(sshPort_).toUtf8();
    writeFile(knownHosts(), host + readFile(r + QStringLiteral("/host_key.pub")));
    writeFile(wrongKnownHosts(), host + readFile(r + QStringLiteral("/other_key.pub")));
    const QString config = r + QStringLiteral("/sshd_config");
    writeFile(config,
        QStringLiteral("ListenAddress 127.0.0.1\n"
                       "HostKey %1/host_key\n"
                       "PidFile none\n"
                       "StrictModes no\n"
                       "AuthorizedKeysFile %1/authorized_keys\n"
                       "PubkeyAuthentication yes\n"
                       "PasswordAuthentication no\n"
                       "KbdInteractiveAuthentication no\n"
                       "UsePAM no\n"
                       "PermitRootLogin prohibit-password\n"
                       "Subsystem sftp internal-sftp\n"
                       "LogLevel FATAL\n")
            .arg(r)
            .toUtf8());
    ssh_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    ssh_.start(QStringLiteral("timeout"),
        {QString::number(kServerSeconds), QStringLiteral("/usr/sbin/sshd"), QStringLiteral("-D"), QStringLiteral("-e"),
            QStringLiteral("-p"), QString::number(sshPort_), QStringLiteral("-f"), config});
    return waitForPort(sshPort_, ssh_);
}

void PublishServers::killSsh()
{
    killTree(ssh_.processId());
    ssh_.waitForFinished(5000);
}

bool PublishServers::startApache(QString* why)
{
    for (int attempt = 0; attempt < 3; ++attempt) {
        httpPort_ = freeLoopbackPort();
        if (launchApache())
            return true;
        stop(apache_);
    }
    *why = QStringLiteral("apache2 did not start on port %1: %2")
               .arg(httpPort_)
               .arg(QString::fromUtf8(readFile(root_.path() + QStringLiteral("/apache-error.log"))));
    return false;
}

bool PublishServers::launchApache()
{
    const QString r = root_.path();
    const QString modules = QStringLiteral("/usr/lib/apache2/modules/");
    QString config = QStringLiteral("ServerRoot %1\nListen 127.0.0.1:%2\nServerName localhost\n"
                                    "PidFile %1/apache.pid\nErrorLog %1/apache-error.log\nDefaultRuntimeDir %1\n")
                         .arg(r)
                         .arg(httpPort_);
    for (const char* module : {"mpm_event", "authz_core", "authn_core", "authn_file", "auth_basic", "authz_user"})
        config += QStringLiteral("LoadModule %1_module %2mod_%1.so\n").arg(QLatin1String(module), modules);
    if (geteuid() == 0)
        config += QStringLiteral("User www-data\nGroup www-data\n");
    config += QStringLiteral("DocumentRoot %1\n"
                             "<Directory %1>\n"
                             "  AuthType Basic\n  AuthName \"downloads\"\n  AuthUserFile %1/.htpasswd\n"
                             "  Require valid-user\n"
                             "</Directory>\n"
                             "<Files \".ht*\">\n  Require all denied\n</Files>\n")
                  .arg(site());
    writeFile(r + QStringLiteral("/apache.conf"), config.toUtf8());
    apache_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    apache_.start(QStringLiteral("timeout"),
        {QString::number(kServerSeconds), QStringLiteral("/usr/sbin/apache2"), QStringLiteral("-f"),
            r + QStringLiteral("/apache.conf"), QStringLiteral("-DFOREGROUND")});
    return waitForPort(httpPort_, apache_);
}

QString PublishServers::hostFingerprint() const
{
    QProcess p;
    p.start(QStringLiteral("ssh-keygen"),
        {QStringLiteral("-l"), QStringLiteral("-E"), QStringLiteral("sha256"), QStringLiteral("-f"),
            root_.path() + QStringLiteral("/host_key.pub")});
    p.waitForFinished(10000);
    return QString::fromUtf8(p.readAllStandardOutput()).section(u' ', 1, 1);
}

PublishSettings PublishServers::settings() const
{
    PublishSettings s;
    s.host = QStringLiteral("127.0.0.1");
    s.port = sshPort_;
    s.user = userName();
    s.folder = site();
    s.checkUrl = checkUrl();
    s.keyFile = keyFile();
    s.knownHosts = knownHosts();
    return s;
}

} // namespace og::test
