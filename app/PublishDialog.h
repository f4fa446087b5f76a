#pragma once

#include "orders/Options.h"
#include "publish/Publisher.h"

#include <QDialog>
#include <QFutureWatcher>

class QComboBox;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QSpinBox;

namespace og {

class Platform;

// What the results window hands the dialog: where the settings and the
// ledger are, the product of the run, and the options it ran with.
struct PublishDialogParams {
    QString settingsPath;
    QString programFolder; // ends in "/"
    QString product;
    Options options;
};

// "Publish to server…": the [publish] settings, the SSH password kept in
// the keyring, and the dry run, publish and step back of publish/. The work
// runs on a worker thread; what the desktop decides (boxes, the keyring)
// goes through the platform.
class PublishDialog : public QDialog {
    Q_OBJECT
public:
    PublishDialog(Platform& platform, PublishDialogParams params, QWidget* parent = nullptr);
    ~PublishDialog() override;

    bool isRunning() const { return running_; }

    QLineEdit* Host;
    QSpinBox* Port;
    QLineEdit* User;
    QLineEdit* Folder;
    QLineEdit* CheckUrl;
    QLineEdit* KeyFile;
    QComboBox* Hash; // item data: the [publish] hash word
    QPushButton* Password;
    QPushButton* DryRun;
    QPushButton* Publish;
    QPushButton* Undo;
    QPushButton* Close;
    QPlainTextEdit* Report;

    PublishSettings settings() const;

signals:
    // A dry run, publish or step back has ended (its lines or its error shown).
    void finished(bool succeeded);

private:
    struct Outcome {
        PublishResult result;
        QString error;       // empty on success
        QString fingerprint; // an unknown host key's
    };
    void start(PublishMode mode, const QString& acceptedFingerprint = {});
    void finish();
    void askPassword();

    Platform& platform_;
    PublishDialogParams params_;
    QFutureWatcher<Outcome> watcher_;
    QString knownHosts_; // kept as the settings file says
    PublishMode mode_ = PublishMode::Publish;
    bool running_ = false;
};

} // namespace og
