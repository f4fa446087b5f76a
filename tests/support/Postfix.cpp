#include "tests/support/Postfix.h"

#include <QFileInfo>
#include <QProcess>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#ifndef OG_SOURCE_DIR
#error "OG_SOURCE_DIR must name the source tree"
#endif

namespace og::test {

namespace {

// A port nothing listens on now (the kernel's choice).
int freePort()
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

// Runs a postfix command to its end, 30 s at most; what it said when it failed.
bool run(const QString& program, const QStringList& args, QString* said = nullptr, const QByteArray& input = {})
{
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(program, args);
    p.write(input);
    p.closeWriteChannel();
    if (!p.waitForFinished(30000)) {
        p.kill();
        p.waitForFinished(5000);
    }
    const bool ok = p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
    if (said && !ok)
        *said = program + QStringLiteral(": ") +
            (p.error() == QProcess::FailedToStart ? p.errorString() : QString::fromUtf8(p.readAll()).trimmed());
    return ok;
}

} // namespace

Postfix::~Postfix()
{
    if (running_)
        run(QStringLiteral("/usr/sbin/postfix"), {QStringLiteral("-c"), conf(), QStringLiteral("stop")});
}

QString Postfix::unavailable()
{
    if (::geteuid() != 0)
        return QStringLiteral("postfix starts its services as its own users: run the tests as root");
    if (!QFileInfo(QStringLiteral("/usr/sbin/postfix")).isExecutable())
        return QStringLiteral("postfix is not installed (tools/setup installs it)");
    return {};
}

bool Postfix::start(const QByteArray& mainCf)
{
    why_ = unavailable();
    if (!why_.isEmpty())
        return false;
    // A port taken between its choice and the bind ends postfix at once:
    // then another port.
    for (int attempt = 0; attempt < 3 && !running_; ++attempt) {
        port_ = freePort();
        running_ = run(QStringLiteral(OG_SOURCE_DIR "/tests/support/start-postfix"),
            {dir_.path(), QString::number(port_)}, &why_, mainCf);
    }
    return running_;
}

bool Postfix::submit(const QString& from, const QString& to, const QByteArray& message)
{
    return run(QStringLiteral("/usr/sbin/sendmail"),
        {QStringLiteral("-C"), conf(), QStringLiteral("-oi"), QStringLiteral("-f"), from, QStringLiteral("--"), to},
        &why_, message);
}

void Postfix::flush()
{
    run(QStringLiteral("/usr/sbin/postqueue"), {QStringLiteral("-c"), conf(), QStringLiteral("-f")});
}

} // namespace og::test
