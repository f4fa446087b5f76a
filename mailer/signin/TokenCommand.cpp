#include "mailer/signin/TokenCommand.h"

#include <QEventLoop>
#include <QProcess>
#include <QRegularExpression>
#include <QTimer>

#include <signal.h>
#include <unistd.h>

namespace og {

namespace {

// A command prints its token and nothing else worth the memory.
constexpr qsizetype OutputLimit = 64 * 1024;

// The end of a long standard error holds the reason. It is shown and logged,
// so a run of characters a token is made of (a helper may print the token
// there too) is left out, and so is every control character.
QString errorText(const QByteArray& bytes)
{
    static const QRegularExpression tokenLike(QStringLiteral("[A-Za-z0-9._~+/=-]{20,}"));
    QString text = QString::fromLocal8Bit(bytes);
    text.replace(tokenLike, QStringLiteral("[…]"));
    for (QChar& c : text)
        if (c.unicode() < 0x20 || (c.unicode() >= 0x7f && c.unicode() < 0xa0))
            c = u' ';
    text = text.simplified();
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
    // Read as it comes, up to the limit: a command that prints without end
    // is stopped, not kept in memory.
    QByteArray output, standardErrorBytes;
    bool tooMuch = false;
    auto take = [&](QByteArray& into, QProcess::ProcessChannel channel) {
        if (tooMuch)
            return;
        process.setReadChannel(channel);
        into += process.read(OutputLimit + 1 - into.size());
        if (into.size() > OutputLimit) {
            tooMuch = true;
            loop.quit();
        }
    };
    QObject::connect(
        &process, &QProcess::readyReadStandardOutput, &loop, [&] { take(output, QProcess::StandardOutput); });
    QObject::connect(
        &process, &QProcess::readyReadStandardError, &loop, [&] { take(standardErrorBytes, QProcess::StandardError); });
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
    const bool stopped = (timedOut || tooMuch) && process.state() != QProcess::NotRunning;
    if (stopped) {
        ::kill(-pid_t(process.processId()), SIGKILL);
        process.waitForFinished(5000);
    }
    if (!tooMuch) { // what is left in the pipes after the end
        take(output, QProcess::StandardOutput);
        take(standardErrorBytes, QProcess::StandardError);
    }
    if (tooMuch) {
        result.error = QStringLiteral("The token command printed more than %1 KiB and was stopped: it should print "
                                      "the access token alone")
                           .arg(OutputLimit / 1024);
        return result;
    }
    if (stopped) {
        const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(timeout).count();
        result.error = failure(QStringLiteral("The token command did not finish within %1 second%2 and was stopped")
                                   .arg(seconds)
                                   .arg(seconds == 1 ? "" : "s"),
            errorText(standardErrorBytes));
        return result;
    }
    const QString standardError = errorText(standardErrorBytes);
    if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0) {
        result.error = failure(process.exitStatus() == QProcess::NormalExit
                ? QStringLiteral("The token command failed (exit status %1)").arg(process.exitCode())
                : QStringLiteral("The token command was ended by a signal"),
            standardError);
        return result;
    }
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
