#pragma once
// The preview of the mailer window: one customer's message as it would go
// out, stepping to the previous or next customer or to one by address; for
// a message with HTML, also the HTML as a customer's mail program shows it.

#include <QDialog>
#include <QStringList>
#include <QTextBrowser>

#include <functional>

class QColor;
class QLabel;
class QPalette;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
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
    // The text of the customer at index, with every customer's address and
    // the message's HTML part (empty: none); throws as SendRun::preview does.
    using Source = std::function<QString(int index, QStringList* addresses, QString* html)>;

    PreviewDialog(QWidget* parent, const QFont& font);

    // Shows the first customer of source; throws as source does.
    void start(Source source);
    // The customer shown; false (nothing changes) for an address not in the file.
    void showCustomer(int index);
    bool showAddress(const QString& address);
    int current() const { return index_; }

private:
    void display(int index, const QString& text, const QString& html);

    QTabWidget* tabs_;
    QPlainTextEdit* view_;
    ClosedTextBrowser* html_;
    QLabel* where_;
    QLineEdit* address_;
    QPushButton *previous_, *next_;
    Source source_;
    QStringList addresses_;
    int index_ = 0;
};

// The palette's link colour where it reads on the base colour (4.5:1);
// else the nearest that does.
QColor readableLinkColour(const QPalette& palette);

} // namespace og
