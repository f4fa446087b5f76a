#pragma once
// The mailer window's choices of what each message carries besides its
// text: plain text or Markdown with HTML, a reply address, the mark of an
// automatic message and the unsubscribe addresses.

#include "mailer/MailerSettings.h"

#include <QObject>

class QCheckBox;
class QComboBox;
class QLineEdit;
class QWidget;

namespace og {

class ReflowForm;

class MessageControls : public QObject {
    Q_OBJECT
public:
    // Its controls belong to `window`.
    explicit MessageControls(QWidget* window);

    // Lays the controls out in the window's grid (four columns) from `row`
    // on; the row after them.
    int placeInto(ReflowForm* grid, int row);

    void load(const MailerSettings& settings);
    void apply(MailerSettings& settings) const;
    // The field a failed header check is about.
    QWidget* fieldInError() const;
    // The controls in their tab order.
    QList<QWidget*> controls() const;

signals:
    // A choice or a field changed (the settings are to be saved).
    void changed();

private:
    QComboBox* Format = nullptr;
    QLineEdit* ReplyTo = nullptr;
    QCheckBox* AutoSubmitted = nullptr;
    QLineEdit* Unsubscribe = nullptr;
};

} // namespace og
