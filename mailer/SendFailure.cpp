#include "mailer/SendFailure.h"

#include <QDir>

namespace og {

QString writeFailureText(const QString& path, const QString& reason)
{
    QString text = QStringLiteral("Unable to write to ") + QDir::toNativeSeparators(path);
    if (!reason.isEmpty())
        text += QStringLiteral(": ") + reason;
    return text;
}

SendFailure::SendFailure(const QString& message)
    : std::runtime_error(message.toStdString())
{
}

} // namespace og
