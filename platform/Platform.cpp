#include "Platform.h"

namespace og {

QString Platform::standardErrorText(const QString& message)
{
    if (!message.isEmpty() && message.back().unicode() > u'.')
        return message + u'.';
    return message;
}

bool Platform::openUrlOrSay(QWidget* parent, const QString& url)
{
    QString why;
    if (openUrl(url, &why))
        return true;
    showException(parent, QStringLiteral("Unable to open %1: %2").arg(url, why));
    return false;
}

bool Platform::openFileOrSay(QWidget* parent, const QString& path)
{
    QString why;
    if (openFile(path, &why))
        return true;
    showException(parent, QStringLiteral("Unable to open %1: %2").arg(path, why));
    return false;
}

} // namespace og
