#include "mailer/signin/TokenCommand.h"

#include <QEventLoop>
#include <QProcess>
#include <QTimer>

#include <signal.h>
#include <unistd.h>

namespace og {

namespace {

// The end of a long standard error holds the reason.
QString errorText(const QByteArray& bytes)
{
    const QString text = QString::fromLocal8Bit(bytes).trimmed();
    return text.size() > 2000 ? QStringLiteral("…") + text.right(2000) : text;
}

QString failure(const QString& what, const QString& standardError)
{
    return standardError.isEmpty() ? what + QStringLiteral("; run it in a terminal to see why")
                                   : what + QStringLiteral(": ") + standardError;
}

} // namespace

TokenCommand::Result TokenCommand::run(const QString& command, std::chrono::milliseconds timeout)
{
    Result result;
    if (command.trimmed().isEmpty()) {
        result.error = QStringLiteral("No token command is set: name the command that prints the access token");
        return result;
    }
    // The loop first: on a thread Qt did not start, it is what gives the
    // thread the event dispatcher the process's pipes need.
    QEventLoop loop;
    QProcess process;
    process.setProgram(QStringLiteral("/bin/sh"));
    process.setArguments({QStringLiteral("-c"), command});
    process.setStandardInputFile(QProcess::nullDevice());
    // A group of its own, so a time-out stops what the shell started too.
    process.setChildProcessModifier([] { ::setsid(); });
    QObject::connect(&process, &QProcess::finished, &loop, &QEventLoop::quit);
    QObject::connect(&process, &QProcess::errorOccurred, &loop, [&](QProcess::ProcessError error) {
        if (error == QProcess::FailedToStart)
            loop.quit();
    });
    bool timedOut = false;
    QTimer::singleShot(timeout, &loop, [&] {
        timedOut = true;
        loop.quit();
    });
    process.start();
    if (process.state() != QProcess::NotRunning)
        loop.exec(QEventLoop::ExcludeUserInputEvents);

    if (process.error() == QProcess::FailedToStart) {
        result.error = QStringLiteral("The token command could not be started: %1").arg(process.errorString());
        return result;
    }
    if (timedOut && process.state() != QProcess::NotRunning) {
        ::kill(-pid_t(process.processId()), SIGKILL);
        process.waitForFinished(5000);
        const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(timeout).count();
        result.error = failure(QStringLiteral("The token command did not finish within %1 second%2 and was stopped")
                                   .arg(seconds)
                                   .arg(seconds == 1 ? "" : "s"),
            errorText(process.readAllStandardError()));
        return result;
    }
    const QString standardError = errorText(process.readAllStandardError());
    if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0) {
        result.error = failure(process.exitStatus() == QProcess::NormalExit
                ? QStringLiteral("The token command failed (exit status %1)").arg(process.exitCode())
                : QStringLiteral("The token command was ended by a signal"),
            standardError);
        return result;
    }
    const QByteArray output = process.readAllStandardOutput();
    const qsizetype lineEnd = output.indexOf('\n');
    result.token = QString::fromUtf8(lineEnd < 0 ? output : output.left(lineEnd)).trimmed();
    if (result.token.isEmpty())
        result.error = failure(
            QStringLiteral("The token command printed no token on the first line of its output"), standardError);
    return result;
}

QString TokenCommand::fetch()
{
    const Result result = run(command_, timeout_);
    if (!result.ok())
        throw SendFailure(result.error);
    token_ = result.token;
    return token_;
}

QString TokenCommand::accessToken()
{
    const std::lock_guard lock(mutex_);
    return token_.isEmpty() ? fetch() : token_;
}

QString TokenCommand::refusedToken(const QString& refused)
{
    const std::lock_guard lock(mutex_);
    return !token_.isEmpty() && token_ != refused ? token_ : fetch();
}

} // namespace og
