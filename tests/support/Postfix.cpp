#include "tests/support/Postfix.h"

#include "tests/support/ServerProcess.h"

#include <QFile>
#include <QFileInfo>
#include <QProcess>

#include <unistd.h>

#ifndef OG_SOURCE_DIR
#error "OG_SOURCE_DIR must name the source tree"
#endif

namespace og::test {

namespace {

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
    // then another port. postfix's master leaves the test's process tree,
    // so whether it holds the port is asked of the process its pid file names.
    for (int attempt = 0; attempt < 3 && !running_; ++attempt) {
        port_ = freeLoopbackPort();
        running_ = run(QStringLiteral(OG_SOURCE_DIR "/tests/support/start-postfix"),
            {dir_.path(), QString::number(port_)}, &why_, mainCf);
        QFile pid(dir_.filePath(QStringLiteral("spool/pid/master.pid")));
        if (running_ &&
            !(pid.open(QIODevice::ReadOnly) && treeListensOn(pid.readAll().trimmed().toLongLong(), port_))) {
            why_ = QStringLiteral("another program holds port %1, not the postfix started there").arg(port_);
            run(QStringLiteral("/usr/sbin/postfix"), {QStringLiteral("-c"), conf(), QStringLiteral("stop")});
            running_ = false;
        }
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
