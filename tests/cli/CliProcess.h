#pragma once
// Runs ordergate-cli as the vendor does: a separate process in a working
// folder, with bounded waits so a hung command fails the test instead of
// stalling the suite.

#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QStringList>

#include <functional>

namespace og::test {

struct CliOutcome {
    int status = -1; // -1: did not start, hung or crashed
    QString out, err;
};

// `inChild` runs in the new process, its standard streams set, before the program.
inline CliOutcome runCli(const QString& workingFolder, const QStringList& args, const QByteArray& input = {},
    const std::function<void()>& inChild = {})
{
    QProcess p;
    p.setWorkingDirectory(workingFolder);
    if (inChild)
        p.setChildProcessModifier(inChild);
    p.start(QStringLiteral(OG_CLI), args);
    CliOutcome o;
    if (!p.waitForStarted(10000))
        return o;
    p.write(input);
    p.closeWriteChannel();
    if (!p.waitForFinished(60000)) {
        p.kill();
        p.waitForFinished(5000);
        return o;
    }
    o.status = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    o.out = QString::fromUtf8(p.readAllStandardOutput());
    o.err = QString::fromUtf8(p.readAllStandardError());
    return o;
}

} // namespace og::test
