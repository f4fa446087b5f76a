#include "Platform.h"

namespace og {

QString Platform::standardErrorText(const QString& message)
{
    if (!message.isEmpty() && message.back().unicode() > u'.')
        return message + u'.';
    return message;
}

void Platform::openUrlOrSay(QWidget* parent, const QString& url)
{
    QString why;
    if (!openUrl(url, &why))
        showException(parent, QStringLiteral("Unable to open %1: %2").arg(url, why));
}

void Platform::openFileOrSay(QWidget* parent, const QString& path)
{
    QString why;
    if (!openFile(path, &why))
        showException(parent, QStringLiteral("Unable to open %1: %2").arg(path, why));
}

} // namespace og
