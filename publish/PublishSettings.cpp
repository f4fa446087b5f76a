#include "publish/PublishSettings.h"

#include "common/ProfileFile.h"

#include <QDir>

namespace og {

namespace {

const QString kSection = QStringLiteral("publish");

// Every text setting and its key; the port is the one number.
struct TextKey {
    const char* key;
    QString PublishSettings::*field;
};
constexpr TextKey kTextKeys[] = {
    {"host", &PublishSettings::host},
    {"user", &PublishSettings::user},
    {"folder", &PublishSettings::folder},
    {"checkUrl", &PublishSettings::checkUrl},
    {"hash", &PublishSettings::hash},
    {"keyFile", &PublishSettings::keyFile},
    {"knownHosts", &PublishSettings::knownHosts},
};
constexpr char kPortKey[] = "port";

} // namespace

PublishSettings PublishSettings::load(const QString& settingsPath, const PublishSettings& current)
{
    const ProfileReader file(settingsPath);
    PublishSettings s = current;
    for (const TextKey& k : kTextKeys)
        s.*k.field = file.readString(kSection, QLatin1String(k.key), current.*k.field).trimmed();
    bool ok = false;
    const int port = file.readString(kSection, QLatin1String(kPortKey), QString()).toInt(&ok);
    if (ok && port > 0 && port < 65536)
        s.port = port;
    return s;
}

void PublishSettings::save(const QString& settingsPath) const
{
    for (const TextKey& k : kTextKeys)
        ProfileFile::writeString(settingsPath, kSection, QLatin1String(k.key), this->*k.field);
    ProfileFile::writeString(settingsPath, kSection, QLatin1String(kPortKey), QString::number(port));
}

bool PublishSettings::hashKind(const Options& options, HashKind* kind, QString* why) const
{
    if (hash.isEmpty()) {
        *kind = options.bcrypt() ? HashKind::Bcrypt : HashKind::Md5;
        return true;
    }
    if (parseWordOf(kHashWords, hash, kind))
        return true;
    *why = QStringLiteral("The password hash \"%1\" is none of md5, bcrypt and sha512 ([publish] hash)").arg(hash);
    return false;
}

QString PublishSettings::problem() const
{
    if (host.isEmpty())
        return QStringLiteral("No server to publish to: give its host name (--host, or [publish] host)");
    if (folder.isEmpty())
        return QStringLiteral("No folder on the server: give the protected download folder (--folder, or [publish] "
                              "folder)");
    if (port < 1 || port > 65535)
        return QStringLiteral("The SSH port must be from 1 to 65535, not %1").arg(port);
    return {};
}

QString PublishSettings::keyringKey() const
{
    return QStringLiteral("ssh:%1@%2:%3").arg(user, host).arg(port);
}

} // namespace og
