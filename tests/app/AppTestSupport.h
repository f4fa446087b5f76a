#pragma once

// Small helpers shared by the window tests: private folders, files, and a
// way to answer a modal window from outside its event loop.

#include <QApplication>
#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QPointer>
#include <QString>
#include <QTemporaryDir>
#include <QTimer>
#include <QWidget>
#include <functional>

namespace og::test {

// Every test process gets its own runtime folder, so the single-instance
// marker of one test never meets that of another (or of a running program).
inline void isolateRuntimeFolder()
{
    static QTemporaryDir runtime;
    QFile::setPermissions(runtime.path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    qputenv("XDG_RUNTIME_DIR", runtime.path().toLocal8Bit());
}

// A temporary folder path ending in "/".
inline QString slashed(const QTemporaryDir& dir)
{
    return dir.path() + u'/';
}

inline void writeFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(bytes) != bytes.size())
        qFatal("cannot write test file %s", qPrintable(path));
}

inline QByteArray readFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Once `window` is the active modal window, runs `action` on it (typically
// closing it). Polls, because the modal loop starts only after the call that
// opens it; gives up after about ten seconds.
inline void whenModal(QWidget* window, std::function<void(QWidget*)> action, int attemptsLeft = 500)
{
    QPointer<QWidget> guard(window);
    QTimer::singleShot(20, [guard, action, attemptsLeft] {
        if (!guard)
            return;
        if (QApplication::activeModalWidget() == guard.data() && guard->isVisible()) {
            action(guard.data());
            return;
        }
        if (attemptsLeft > 0)
            whenModal(guard.data(), action, attemptsLeft - 1);
    });
}

// A SWREG report line: id, date, order number, product, address, price,
// currency, country, payment, first name, last name, status.
inline QString swregLine(const QString& order, const QString& product, const QString& address,
    const QString& first = QStringLiteral("Ann"), const QString& last = QStringLiteral("Lee"))
{
    return QStringLiteral("2417,Tue Jan 01 10:00:00 2002,%1,%2,%3,19.95,USD,US,card,%4,%5,done")
        .arg(order, product, address, first, last);
}

} // namespace og::test
