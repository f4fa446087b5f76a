#include "common/ProgramFolder.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

namespace og {

QString programFolder()
{
    QString folder = QCoreApplication::applicationDirPath();
    if (!folder.isEmpty() && QFileInfo(folder).isWritable())
        return folder.endsWith(u'/') ? folder : folder + u'/';
    folder = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
    QDir().mkpath(folder);
    return folder.endsWith(u'/') ? folder : folder + u'/';
}

QString installedDataFolder()
{
    return QDir::cleanPath(QCoreApplication::applicationDirPath() + u'/' + QLatin1String(OG_DATA_FROM_BIN)) + u'/';
}

QString settingsPathIn(const QString& folder)
{
    return folder + QStringLiteral("ordergate.ini");
}

} // namespace og
