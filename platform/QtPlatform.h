#pragma once

#include "platform/Platform.h"
#include "platform/QtKeyring.h"

namespace og {

// The platform services of a real desktop: Qt message boxes, file dialogs,
// the system clipboard, the desktop's URL handlers and its keyring
// (QtKeyring).
class QtPlatform : public Platform {
public:
    void showError(QWidget* parent, const QString& text) override;
    bool confirm(QWidget* parent, const QString& text) override;
    void showInformation(QWidget* parent, const QString& text) override;
    void showWarning(QWidget* parent, const QString& text) override;
    QString openFileName(QWidget* parent, const FileDialogRequest& request) override;
    QStringList openFileNames(QWidget* parent, const FileDialogRequest& request) override;
    QString chooseFolder(QWidget* parent, const QString& title, const QString& start) override;
    QString clipboardText() override;
    void copyToClipboard(const QString& text) override;
    Answer ask(QWidget* parent, const QString& text) override;
    Answer choose(QWidget* parent, const QString& text, const QString& yes, const QString& no) override;
    bool confirmAction(QWidget* parent, const QString& text, const QString& action) override;
    bool openUrl(const QString& url, QString* why = nullptr) override;
    bool openFile(const QString& path, QString* why = nullptr) override;
    KeyringReply readPassword(const QString& key) override;
    KeyringReply writePassword(const QString& key, const QString& password) override;
    KeyringReply deletePassword(const QString& key) override;
    bool askPassword(QWidget* parent, const QString& text, QString* password) override;

    // "label|pattern|label|pattern" as Qt's "label (pattern);;..." form.
    // Several patterns of one entry (";"-separated) become blank-separated.
    static QString qtFilter(const QString& filter);
    // Message texts use "\r" (alone or before "\n") for a line break.
    static QString messageText(const QString& text);

private:
    QtKeyring keyring_;
};

} // namespace og
