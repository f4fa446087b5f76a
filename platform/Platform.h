#pragma once

#include "platform/Keyring.h"

#include <QString>
#include <QStringList>

class QWidget;

namespace og {

// What an open-file dialog is asked for. The filter is written the way the
// vendor's old dialogs wrote it ("label|pattern|label|pattern"); the Qt
// implementation turns it into Qt's form.
struct FileDialogRequest {
    QString title;
    QString filter;
    QString initialDirectory = QStringLiteral(".");
};

// Everything the platform decides for the windows: message boxes, file
// dialogs, the clipboard, opening pages and files, and the keyring
// (Keyring.h). The windows never call Qt for these directly, so tests can
// hand in a scripted implementation and run every window offscreen without a
// person.
//
// All calls are made on the GUI thread.
class Platform : public Keyring {
public:
    // Error box: error icon, one OK button, the application title as caption.
    virtual void showError(QWidget* parent, const QString& text) = 0;
    // Confirmation: question icon, Yes and No. True for Yes.
    virtual bool confirm(QWidget* parent, const QString& text) = 0;
    // Question with a way back: question icon, Yes, No and Cancel; Escape
    // and closing the box answer Cancel.
    enum class Answer { Yes, No, Cancel };
    virtual Answer ask(QWidget* parent, const QString& text) = 0;
    // The same question with buttons that say what each way does: yes
    // answers Yes, no answers No. Without its own boxes, ask().
    virtual Answer choose(QWidget* parent, const QString& text, const QString& yes, const QString& no)
    {
        (void)yes;
        (void)no;
        return ask(parent, text);
    }
    // A question before something that cannot be taken back (a mailing):
    // question icon, a button named for the action and Cancel, which is the
    // default and Escape's, so Enter alone never starts it. True for the
    // action. Without its own boxes, confirm().
    virtual bool confirmAction(QWidget* parent, const QString& text, const QString& action)
    {
        (void)action;
        return confirm(parent, text);
    }
    // Information box: information icon, one OK button.
    virtual void showInformation(QWidget* parent, const QString& text) = 0;
    // Warning box: warning icon, one OK button (a job done only in part).
    virtual void showWarning(QWidget* parent, const QString& text) = 0;
    // The application's standard error box for an exception that left a
    // handler: shows standardErrorText(message) as an error box.
    void showException(QWidget* parent, const QString& message) { showError(parent, standardErrorText(message)); }

    // Single and multiple selection; an empty result means the user cancelled.
    virtual QString openFileName(QWidget* parent, const FileDialogRequest& request) = 0;
    virtual QStringList openFileNames(QWidget* parent, const FileDialogRequest& request) = 0;
    // A folder; empty when the user cancelled.
    virtual QString chooseFolder(QWidget* parent, const QString& title, const QString& start) = 0;

    // The clipboard's text; empty when it holds none.
    virtual QString clipboardText() = 0;
    // Puts text on the clipboard (a sign-in address, for one).
    virtual void copyToClipboard(const QString& text) = 0;

    // Opens a web address or a local page (help) in the user's browser.
    // False when nothing could be started for it; why then says why.
    virtual bool openUrl(const QString& url, QString* why = nullptr) = 0;
    // Opens a local file (or a folder) with the program associated with its type.
    virtual bool openFile(const QString& path, QString* why = nullptr) = 0;
    // The same, showing an error box that names what could not be opened
    // and why, so a missing browser or launcher is never silent. True when
    // it was opened.
    bool openUrlOrSay(QWidget* parent, const QString& url);
    bool openFileOrSay(QWidget* parent, const QString& path);

    // Asks for a password in a masked field; false when the user cancelled.
    virtual bool askPassword(QWidget* parent, const QString& text, QString* password) = 0;

    // The standard error box appends a full stop when the message's last
    // character sorts above "." (so "Connection refused." stays as it is).
    static QString standardErrorText(const QString& message);
};

} // namespace og
