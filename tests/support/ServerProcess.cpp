#include "tests/support/ServerProcess.h"

#include <QDir>
#include <QFile>
#include <QSet>

#include <arpa/inet.h>
#include <csignal>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace og::test {

namespace {

QByteArray readFile(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// The inodes of the sockets listening on the port, from the kernel's tables.
QSet<QByteArray> listeningInodes(int port)
{
    const QByteArray wanted = ':' + QByteArray::number(port, 16).toUpper().rightJustified(4, '0');
    QSet<QByteArray> inodes;
    for (const char* table : {"/proc/net/tcp", "/proc/net/tcp6"}) {
        for (const QByteArray& line : readFile(QLatin1String(table)).split('\n')) {
            const QList<QByteArray> f = line.simplified().split(' ');
            // sl local remote state tx:rx tr:when retrnsmt uid timeout inode
            if (f.size() > 9 && f[1].endsWith(wanted) && f[3] == "0A")
                inodes.insert(f[9]);
        }
    }
    return inodes;
}

} // namespace

int freeLoopbackPort()
{
    const int s = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a {};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof a;
    int port = 0;
    if (::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
        ::getsockname(s, reinterpret_cast<sockaddr*>(&a), &size) == 0)
        port = ntohs(a.sin_port);
    ::close(s);
    return port;
}

QList<qint64> processTree(qint64 pid)
{
    QList<qint64> tree {pid};
    const QStringList entries = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs);
    for (qsizetype i = 0; i < tree.size(); ++i) {
        for (const QString& entry : entries) {
            const QByteArray stat = readFile(QStringLiteral("/proc/%1/stat").arg(entry));
            const qsizetype close = stat.lastIndexOf(')');
            const QList<QByteArray> fields = stat.mid(close + 2).split(' ');
            if (close > 0 && fields.size() > 1 && fields[1].toLongLong() == tree[i])
                tree.append(entry.toLongLong());
        }
    }
    return tree;
}

void killTree(qint64 pid)
{
    if (pid <= 0)
        return;
    for (qint64 p : processTree(pid))
        ::kill(pid_t(p), SIGKILL);
}

bool treeListensOn(qint64 pid, int port)
{
    const QSet<QByteArray> inodes = listeningInodes(port);
    if (pid <= 0 || inodes.isEmpty())
        return false;
    for (qint64 p : processTree(pid)) {
        const QString fds = QStringLiteral("/proc/%1/fd").arg(p);
        for (const QString& fd :
            QDir(fds).entryList(QDir::Files | QDir::System | QDir::Hidden | QDir::NoDotAndDotDot)) {
            char link[64] = {};
            const ssize_t n = ::readlink(QFile::encodeName(fds + u'/' + fd).constData(), link, sizeof link - 1);
            const QByteArray name(link, n > 0 ? qsizetype(n) : 0);
            if (name.startsWith("socket:[") && inodes.contains(name.mid(8, name.size() - 9)))
                return true;
        }
    }
    return false;
}

} // namespace og::test
