#pragma once
// The preview of the mailer window: one customer's message as it would go
// out, stepping to the previous or next customer or to one by address.

#include <QDialog>
#include <QStringList>

#include <functional>

class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;

namespace og {

class PreviewDialog : public QDialog {
    Q_OBJECT
public:
    // The text of the customer at index, with every customer's address;
    // throws as SendRun::preview does.
    using Source = std::function<QString(int index, QStringList* addresses)>;

    PreviewDialog(QWidget* parent, const QFont& font);

    // Shows the first customer of source; throws as source does.
    void start(Source source);
    // The customer shown; false (nothing changes) for an address not in the file.
    void showCustomer(int index);
    bool showAddress(const QString& address);
    int current() const { return index_; }

private:
    void display(int index, const QString& text);

    QPlainTextEdit* view_;
    QLabel* where_;
    QLineEdit* address_;
    QPushButton *previous_, *next_;
    Source source_;
    QStringList addresses_;
    int index_ = 0;
};

} // namespace og
