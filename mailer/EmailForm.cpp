#include "mailer/EmailForm.h"

#include "app/platform/Platform.h"

namespace og {

TemailForm::TemailForm(Platform& platform, QWidget* parent)
    : QDialog(parent), platform_(platform)
{
    setObjectName(QStringLiteral("emailForm"));
    setWindowTitle(QStringLiteral("Send Notification to your customers"));
}

} // namespace og
