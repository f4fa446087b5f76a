#pragma once

#include <QDialog>

namespace og {

class Platform;

// The notification mailer window. Shown modally from the main window and from
// the results window.
class TemailForm : public QDialog {
    Q_OBJECT
public:
    explicit TemailForm(Platform& platform, QWidget* parent = nullptr);

private:
    Platform& platform_;
};

} // namespace og
