#include "platform/QtPlatform.h"

#include "platform/Version.h"

#include <QAbstractButton>
#include <QApplication>
#include <QClipboard>
#include <QDesktopServices>
#include <QFileDialog>
#include <QFileInfo>
#include <QInputDialog>
#include <QMessageBox>
#include <QPushButton>
#include <QUrl>


namespace og {

namespace {

QMessageBox::StandardButton runBox(
    QWidget* parent, QMessageBox::Icon icon, const QString& text, QMessageBox::StandardButtons buttons)
{
    QMessageBox box(icon, QString::fromUtf8(ApplicationTitle), QtPlatform::messageText(text), buttons, parent);
    box.setObjectName(QStringLiteral("MessageBox"));
    box.setTextFormat(Qt::PlainText);
    return static_cast<QMessageBox::StandardButton>(box.exec());
}

} // namespace

QString QtPlatform::messageText(const QString& text)
{
    QString out = text;
    out.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    out.replace(u'\r', u'\n');
    return out;
}

QString QtPlatform::qtFilter(const QString& filter)
{
    if (filter.isEmpty())
        return {};
    const QStringList parts = filter.split(u'|');
    QStringList entries;
    for (qsizetype i = 0; i < parts.size(); i += 2) {
        const QString label = parts[i].trimmed();
        QString pattern = i + 1 < parts.size() ? parts[i + 1].trimmed() : QStringLiteral("*");
        pattern.replace(u';', u' ');
        pattern = pattern.simplified();
        // Qt reads the patterns from the last parenthesised group; a label
        // that already shows them ("Text (*.txt)") is kept as it is.
        if (label.endsWith(QLatin1String("(") + pattern + QLatin1String(")")))
            entries << label;
        else
            entries << (label.isEmpty() ? QString() : label + u' ') + u'(' + pattern + u')';
    }
    return entries.join(QLatin1String(";;"));
}

void QtPlatform::showError(QWidget* parent, const QString& text)
{
    runBox(parent, QMessageBox::Critical, text, QMessageBox::Ok);
}

bool QtPlatform::confirm(QWidget* parent, const QString& text)
{
    return runBox(parent, QMessageBox::Question, text, QMessageBox::Yes | QMessageBox::No) == QMessageBox::Yes;
}

void QtPlatform::showInformation(QWidget* parent, const QString& text)
{
    runBox(parent, QMessageBox::Information, text, QMessageBox::Ok);
}

void QtPlatform::showWarning(QWidget* parent, const QString& text)
{
    runBox(parent, QMessageBox::Warning, text, QMessageBox::Ok);
}

QString QtPlatform::openFileName(QWidget* parent, const FileDialogRequest& request)
{
    return QFileDialog::getOpenFileName(parent, request.title, request.initialDirectory, qtFilter(request.filter));
}

QStringList QtPlatform::openFileNames(QWidget* parent, const FileDialogRequest& request)
{
    return QFileDialog::getOpenFileNames(parent, request.title, request.initialDirectory, qtFilter(request.filter));
}

QString QtPlatform::chooseFolder(QWidget* parent, const QString& title, const QString& start)
{
    return QFileDialog::getExistingDirectory(parent, title, start);
}

QString QtPlatform::clipboardText()
{
    return QGuiApplication::clipboard()->text();
}

void QtPlatform::copyToClipboard(const QString& text)
{
    QGuiApplication::clipboard()->setText(text);
}

namespace {

// Escape and the window's close button give Cancel, the escape button.
Platform::Answer answerOf(int button)
{
    return button == QMessageBox::Yes ? Platform::Answer::Yes
        : button == QMessageBox::No   ? Platform::Answer::No
                                      : Platform::Answer::Cancel;
}

} // namespace

Platform::Answer QtPlatform::ask(QWidget* parent, const QString& text)
{
    return answerOf(
        runBox(parent, QMessageBox::Question, text, QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel));
}

Platform::Answer QtPlatform::choose(QWidget* parent, const QString& text, const QString& yes, const QString& no)
{
    QMessageBox box(QMessageBox::Question, QString::fromUtf8(ApplicationTitle), messageText(text),
        QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel, parent);
    box.setObjectName(QStringLiteral("MessageBox"));
    box.setTextFormat(Qt::PlainText);
    box.button(QMessageBox::Yes)->setText(yes);
    box.button(QMessageBox::No)->setText(no);
    return answerOf(box.exec());
}

bool QtPlatform::confirmAction(QWidget* parent, const QString& text, const QString& action)
{
    QMessageBox box(
        QMessageBox::Question, QString::fromUtf8(ApplicationTitle), messageText(text), QMessageBox::NoButton, parent);
    box.setObjectName(QStringLiteral("MessageBox"));
    box.setTextFormat(Qt::PlainText);
    QPushButton* go = box.addButton(action, QMessageBox::AcceptRole);
    QPushButton* cancel = box.addButton(QMessageBox::Cancel);
    box.setDefaultButton(cancel);
    box.setEscapeButton(cancel);
    box.exec();
    return box.clickedButton() == go;
}

namespace {

bool launch(const QUrl& url, QString* why)
{
    if (url.isLocalFile() && !QFileInfo::exists(url.toLocalFile())) {
        if (why)
            *why = QStringLiteral("the file does not exist");
        return false;
    }
    if (QDesktopServices::openUrl(url))
        return true;
    if (why)
        *why = QStringLiteral("no web browser or file launcher could be started (the desktop's xdg-open)");
    return false;
}

} // namespace

bool QtPlatform::openUrl(const QString& url, QString* why)
{
    return launch(QUrl(url, QUrl::TolerantMode), why);
}

bool QtPlatform::openFile(const QString& path, QString* why)
{
    return launch(QUrl::fromLocalFile(path), why);
}

Platform::KeyringReply QtPlatform::readPassword(const QString& key)
{
    return keyring_.readPassword(key);
}

Platform::KeyringReply QtPlatform::writePassword(const QString& key, const QString& password)
{
    return keyring_.writePassword(key, password);
}

Platform::KeyringReply QtPlatform::deletePassword(const QString& key)
{
    return keyring_.deletePassword(key);
}

bool QtPlatform::askPassword(QWidget* parent, const QString& text, QString* password)
{
    QInputDialog dialog(parent);
    dialog.setObjectName(QStringLiteral("PasswordDialog"));
    dialog.setWindowTitle(QString::fromUtf8(ApplicationTitle));
    dialog.setLabelText(messageText(text));
    dialog.setTextEchoMode(QLineEdit::Password);
    if (dialog.exec() != QDialog::Accepted)
        return false;
    *password = dialog.textValue();
    return true;
}

} // namespace og
