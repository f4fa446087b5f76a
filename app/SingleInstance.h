#pragma once

#include <QLockFile>
#include <QObject>
#include <QPointer>
#include <memory>

class QLocalServer;
class QWidget;

namespace og {

// Keeps one running copy of the program per user and desktop session.
//
// The marker is a lock file named after the application title in the user's
// runtime folder: it exists exactly while the first instance runs, and a lock
// left by a crashed instance is recognised as stale (its process is gone) and
// taken over. Beside it the first instance listens on a local socket; a
// second start connects and asks it to restore and raise its window, then
// reports that this start is to end without showing anything.
class TSingleInstance : public QObject {
    Q_OBJECT
    Q_PROPERTY(bool SwitchToPrevious READ SwitchToPrevious WRITE setSwitchToPrevious)
public:
    // owner: the window to restore and raise when a second start asks.
    explicit TSingleInstance(QWidget* owner);
    ~TSingleInstance() override;

    bool SwitchToPrevious() const { return switchToPrevious_; }
    void setSwitchToPrevious(bool on) { switchToPrevious_ = on; }

    // The check the owner runs while it loads. The name is the application
    // title (QGuiApplication::applicationDisplayName). Returns true when
    // another instance runs (or the marker cannot be made at all); the caller
    // must then end this start without showing a window.
    bool Loaded();

    bool anotherInstanceFound() const { return found_; }

    // After Loaded() found another instance: hands it a report file to read
    // (an absolute path), so "ordergate REPORT" works while a copy runs.
    void handOverReport(const QString& path);

    // Where the marker and the socket of a given title live for this user.
    static QString lockFilePath(const QString& name);
    static QString socketPath(const QString& name);

signals:
    // Another instance was found (emitted by Loaded, with this as sender).
    void AlreadyExist(QObject* sender);
    // A second start asked this (first) instance to come to the front; the
    // owner has already been restored and raised.
    void raiseRequested();
    // A second start handed this (first) instance a report file to read.
    void reportHandedOver(const QString& path);

private:
    void listen(const QString& name);
    void askPreviousToRaise(const QString& name);
    void sendToPrevious(const QByteArray& request);
    void onNewConnection();
    void bringOwnerToFront();

    QPointer<QWidget> owner_;
    bool switchToPrevious_ = true;
    bool found_ = false;
    std::unique_ptr<QLockFile> lock_;
    QLocalServer* server_ = nullptr;
};

} // namespace og
