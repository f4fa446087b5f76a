#pragma once
// The preview of the first customer's message: the message as it goes out
// (headers, text, attachments) and, for a message with HTML, the HTML as a
// customer's mail program shows it.

#include <QDialog>
#include <QTextBrowser>

class QPlainTextEdit;
class QTabWidget;

namespace og {

// Shows HTML without reaching anything outside it: no picture, style sheet
// or page is loaded, from the network or from files, and a click on a link
// goes nowhere.
class ClosedTextBrowser : public QTextBrowser {
    Q_OBJECT
public:
    explicit ClosedTextBrowser(QWidget* parent = nullptr);
    QVariant loadResource(int type, const QUrl& name) override;
};

class PreviewDialog : public QDialog {
    Q_OBJECT
public:
    // textFont: the font of the message's text.
    PreviewDialog(const QFont& textFont, QWidget* parent);

    // The message as it goes out, and its HTML part (empty: none).
    void showMessage(const QString& message, const QString& html);

private:
    QTabWidget* tabs_ = nullptr;
    QPlainTextEdit* text_ = nullptr;
    ClosedTextBrowser* html_ = nullptr;
};

} // namespace og
