#include "app/SingleInstance.h"

#include "app/Trace.h"

#include <QApplication>
#include <QDir>
#include <QLocalServer>
#include <QLocalSocket>
#include <QStandardPaths>
#include <QWidget>
#include <cstdio>
#include <unistd.h>

namespace og {

namespace {

constexpr int ConnectWaitMs = 2000;
const QByteArray RaiseRequest = QByteArrayLiteral("raise\n");
// "open " + UTF-8 path + LF; a path may be long, but not endless.
const QByteArray OpenRequest = QByteArrayLiteral("open ");
constexpr qint64 MaxRequestLength = 64 * 1024;

QString runtimeFolder()
{
    QString dir = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (dir.isEmpty())
        dir = QDir::tempPath();
    return dir;
}

QString userTag()
{
    // The uid keeps two users of one machine apart even where the runtime
    // folder is shared (the temp-folder fallback).
    return QString::number(::getuid());
}

} // namespace

TSingleInstance::TSingleInstance(QWidget* owner)
    : QObject(owner),
      owner_(owner)
{
    setObjectName(QStringLiteral("SingleInstance1"));
}

TSingleInstance::~TSingleInstance()
{
    if (server_)
        server_->close();
    if (lock_)
        lock_->unlock();
}

QString TSingleInstance::lockFilePath(const QString& name)
{
    return runtimeFolder() + u'/' + name + QLatin1String("-") + userTag() + QLatin1String(".lock");
}

QString TSingleInstance::socketPath(const QString& name)
{
    return runtimeFolder() + u'/' + name + QLatin1String("-") + userTag() + QLatin1String(".socket");
}

bool TSingleInstance::Loaded()
{
    const QString name = QGuiApplication::applicationDisplayName();
    lock_ = std::make_unique<QLockFile>(lockFilePath(name));
    // Age alone never makes the lock stale: the first instance may run for
    // days. A lock whose process has died is still taken over.
    lock_->setStaleLockTime(0);
    if (lock_->tryLock(0)) {
        listen(name);
        traceLine("single-instance: first");
        return false;
    }

    found_ = true;
    if (lock_->error() != QLockFile::LockFailedError) {
        // No marker can be made at all: treated as a running instance, but
        // say why this start ends, since no window will.
        std::fprintf(stderr, "%s: cannot create the instance marker %s; ending.\n", qPrintable(name),
            qPrintable(lockFilePath(name)));
    }
    emit AlreadyExist(this);
    if (switchToPrevious_)
        askPreviousToRaise(name);
    traceLine("single-instance: second");
    return true;
}

void TSingleInstance::listen(const QString& name)
{
    const QString path = socketPath(name);
    // We hold the lock, so a socket file left here belongs to a dead instance.
    QLocalServer::removeServer(path);
    server_ = new QLocalServer(this);
    server_->setSocketOptions(QLocalServer::UserAccessOption);
    connect(server_, &QLocalServer::newConnection, this, &TSingleInstance::onNewConnection);
    if (!server_->listen(path)) {
        std::fprintf(stderr, "%s: a second start will not be able to raise this window (%s).\n", qPrintable(name),
            qPrintable(server_->errorString()));
    }
}

void TSingleInstance::askPreviousToRaise(const QString& /*name*/)
{
    sendToPrevious(RaiseRequest);
}

void TSingleInstance::handOverReport(const QString& path)
{
    if (!found_ || path.isEmpty() || path.contains(u'\n'))
        return;
    sendToPrevious(OpenRequest + path.toUtf8() + '\n');
}

void TSingleInstance::sendToPrevious(const QByteArray& request)
{
    QLocalSocket socket;
    socket.connectToServer(socketPath(QGuiApplication::applicationDisplayName()));
    if (!socket.waitForConnected(ConnectWaitMs))
        return; // the first instance is still starting or has just ended
    socket.write(request);
    socket.waitForBytesWritten(ConnectWaitMs);
    socket.disconnectFromServer();
    if (socket.state() != QLocalSocket::UnconnectedState)
        socket.waitForDisconnected(ConnectWaitMs);
}

void TSingleInstance::onNewConnection()
{
    while (QLocalSocket* socket = server_->nextPendingConnection()) {
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
            // Two requests are understood; anything else is ignored.
            if (!socket->canReadLine()) {
                if (socket->bytesAvailable() > MaxRequestLength)
                    socket->abort();
                return;
            }
            const QByteArray line = socket->readLine(MaxRequestLength);
            if (line == RaiseRequest) {
                bringOwnerToFront();
            } else if (line.startsWith(OpenRequest) && line.endsWith('\n')) {
                bringOwnerToFront();
                emit reportHandedOver(QString::fromUtf8(line.sliced(OpenRequest.size()).chopped(1)));
            }
            socket->disconnectFromServer();
        });
    }
}

void TSingleInstance::bringOwnerToFront()
{
    if (owner_) {
        QWidget* window = owner_->window();
        if (window->isMinimized())
            window->showNormal();
        window->raise();
        window->activateWindow();
    }
    // A modal window of the program (results, mailer) belongs in front of it.
    if (QWidget* modal = QApplication::activeModalWidget()) {
        modal->raise();
        modal->activateWindow();
    }
    traceLine("single-instance: raised");
    emit raiseRequested();
}

} // namespace og
