#include "platform/Version.h"

#include "common/ProgramFolder.h"
#include "platform/Platform.h"
#include "platform/VendorLinks.h"
#include "platform/VersionInfo.h"

#include <QFileInfo>
#include <QUrl>

namespace og {

QString VersionString(const QString& key)
{
    struct Entry {
        const char* key;
        const char* value;
    };
    static constexpr Entry entries[] = {
        {"ProductName", OG_VERSION_PRODUCT_NAME},
        {"FileDescription", OG_VERSION_FILE_DESCRIPTION},
        {"ProductVersion", OG_VERSION_PRODUCT_VERSION},
        {"CompanyName", OG_VERSION_COMPANY_NAME},
        {"Comments", OG_VERSION_COMMENTS},
    };
    for (const Entry& e : entries) {
        if (key == QLatin1String(e.key))
            return QString::fromUtf8(e.value);
    }
    return {};
}

void OpenHelpPage(Platform& platform, const QString& topic, const QString& folder, QWidget* parent)
{
    const qsizetype hash = topic.indexOf(u'#');
    const QString page = hash < 0 ? topic : topic.left(hash);
    QString local = folder + page;
    if (!QFileInfo(local).isFile())
        local = installedDataFolder() + page;
    if (!page.isEmpty() && QFileInfo(local).isFile()) {
        // The fragment is set on its own: left in the file name, the "#"
        // would be escaped as part of the path and the topic lost.
        QUrl url = QUrl::fromLocalFile(local);
        if (hash >= 0)
            url.setFragment(topic.mid(hash + 1));
        platform.openUrlOrSay(parent, url.toString());
        return;
    }
    platform.openUrlOrSay(parent, QString::fromUtf8(VendorLinks::HomePageBase) + topic);
}

void OpenHelpPage(Platform& platform, const QString& topic)
{
    OpenHelpPage(platform, topic, programFolder());
}

} // namespace og
