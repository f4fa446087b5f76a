#pragma once

// og::ScriptedPlatform — a Platform for tests that records every call and
// answers from queues the test fills beforehand.
//
//   og::ScriptedPlatform platform;
//   platform.setClipboardText(reportText);          // what clipboardText() gives
//   platform.queueConfirm(true);                     // next confirm() answers Yes
//   platform.queueAnswer(Platform::Answer::Cancel);  // next ask() answers Cancel
//   platform.queueAction(true);                      // next confirmAction() goes on
//   platform.failLaunches("no browser");             // openUrl/openFile fail
//   platform.queueFileName("/tmp/a.txt");            // next openFileName()
//   platform.queueFileNames({"/tmp/a", "/tmp/b"});   // next openFileNames()
//   platform.storePassword("me@mail.example.com", "pw"); // the keyring holds it
//   platform.setKeyringAvailable(false);             // no keyring: NoKeyring
//   platform.queuePassword("pw");                    // next askPassword() ("" = cancel)
//   ... drive the window ...
//   platform.calls();              // every call in order: kind + text
//   platform.texts(Call::Error);   // the texts of all error boxes
//
// Message boxes never block: errors and information boxes are only recorded.
// A call that needs an answer the test did not script (confirm, a file
// dialog, the clipboard) is a test fault: the failure handler is called with
// a description and a default answer is returned (No, cancel, empty text).
// The default handler aborts the process with qFatal, so nothing passes by
// accident; a GoogleTest can install one that calls ADD_FAILURE instead:
//
//   platform.setFailureHandler([](const QString& m) { ADD_FAILURE() << m.toStdString(); });
//
// verifyAllUsed() reports answers that were queued but never asked for.
// Use it on the GUI thread only, like every Platform.

#include "platform/Platform.h"

#include <QHash>
#include <QList>
#include <QQueue>
#include <functional>
#include <optional>

namespace og {

class ScriptedPlatform : public Platform {
public:
    struct Call {
        enum Kind {
            Error,
            Confirm,
            Information,
            OpenFileName,
            OpenFileNames,
            Clipboard,
            OpenUrl,
            OpenFile,
            Ask,
            KeyringRead,
            KeyringWrite,
            KeyringDelete,
            AskPassword,
            Warning,
            ChooseFolder,
            CopyToClipboard,
            ConfirmAction
        };
        Kind kind;
        // The message text, the dialog title, the URL, the path or the
        // keyring key (never a password).
        QString text;
        // Only for file dialogs: the filter as asked (a folder dialog: its
        // start); a question before an action: the action's button.
        QString filter;
    };

    ScriptedPlatform();

    // Scripting.
    void queueConfirm(bool yes);
    void queueAnswer(Answer answer);
    // Next confirmAction() (the question before a mailing): true goes on.
    void queueAction(bool go);
    // From now on openUrl and openFile fail, giving why; empty: they succeed.
    void failLaunches(const QString& why) { launchFailure_ = why; }
    void queueFileName(const QString& path); // "" = the user cancelled; also answers chooseFolder
    void queueFileNames(const QStringList& paths);
    void setClipboardText(const QString& text);
    void storePassword(const QString& key, const QString& password) { keyring_.insert(key, password); }
    void setKeyringAvailable(bool available) { keyringAvailable_ = available; }
    void queuePassword(const QString& password);
    void clearClipboard(); // clipboardText() becomes a test fault again
    void setFailureHandler(std::function<void(const QString&)> handler);
    // Called after each recorded call, e.g. to close a window from inside a
    // modal message box; the call is already in calls().
    void setObserver(std::function<void(const Call&)> observer);

    // Inspection.
    const QList<Call>& calls() const { return calls_; }
    // The keyring's entries: key -> password.
    const QHash<QString, QString>& keyring() const { return keyring_; }
    QStringList texts(Call::Kind kind) const;
    qsizetype count(Call::Kind kind) const;
    void clearCalls() { calls_.clear(); }
    // Queued answers nobody asked for; empty when all were used.
    QStringList unusedAnswers() const;
    // Calls the failure handler when answers are left over; true when none.
    bool verifyAllUsed();

    static QString kindName(Call::Kind kind);

    // Platform
    void showError(QWidget* parent, const QString& text) override;
    bool confirm(QWidget* parent, const QString& text) override;
    bool confirmAction(QWidget* parent, const QString& text, const QString& action) override;
    void showInformation(QWidget* parent, const QString& text) override;
    void showWarning(QWidget* parent, const QString& text) override;
    QString openFileName(QWidget* parent, const FileDialogRequest& request) override;
    QStringList openFileNames(QWidget* parent, const FileDialogRequest& request) override;
    QString chooseFolder(QWidget* parent, const QString& title, const QString& start) override;
    QString clipboardText() override;
    // Recorded, and what clipboardText() gives from then on.
    void copyToClipboard(const QString& text) override;
    Answer ask(QWidget* parent, const QString& text) override;
    bool openUrl(const QString& url, QString* why = nullptr) override;
    bool openFile(const QString& path, QString* why = nullptr) override;
    KeyringReply readPassword(const QString& key) override;
    KeyringReply writePassword(const QString& key, const QString& password) override;
    KeyringReply deletePassword(const QString& key) override;
    bool askPassword(QWidget* parent, const QString& text, QString* password) override;

private:
    KeyringReply keyringCall(Call::Kind kind, const QString& key);
    void record(Call::Kind kind, const QString& text, const QString& filter = {});
    void fail(const QString& message);

    QList<Call> calls_;
    QQueue<bool> confirms_;
    QQueue<Answer> answers_;
    QQueue<bool> actions_;
    QString launchFailure_;
    QQueue<QString> fileNames_;
    QQueue<QStringList> fileNameLists_;
    std::optional<QString> clipboard_;
    QHash<QString, QString> keyring_;
    bool keyringAvailable_ = true;
    QQueue<QString> passwords_;
    std::function<void(const QString&)> failureHandler_;
    std::function<void(const Call&)> observer_;
};

} // namespace og
