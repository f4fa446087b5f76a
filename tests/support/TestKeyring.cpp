#include "tests/support/TestKeyring.h"

#include <QFile>
#include <QJsonDocument>

#ifndef OG_SOURCE_DIR
#error "OG_SOURCE_DIR must name the source tree"
#endif

namespace og::test {

TestKeyring::TestKeyring(Kind kind)
    : kind_(kind)
{
}

TestKeyring::~TestKeyring()
{
    if (process_.state() != QProcess::NotRunning) {
        process_.closeWriteChannel(); // ends at the end of its input
        if (!process_.waitForFinished(5000)) {
            process_.kill();
            process_.waitForFinished(2000);
        }
    }
    for (auto it = saved_.crbegin(); it != saved_.crend(); ++it) {
        if (it->second)
            qputenv(it->first.constData(), *it->second);
        else
            qunsetenv(it->first.constData());
    }
}

void TestKeyring::setEnvironment(const char* name, const QByteArray& value)
{
    saved_.append({name, qEnvironmentVariableIsSet(name) ? std::optional(qgetenv(name)) : std::nullopt});
    qputenv(name, value);
}

bool TestKeyring::start()
{
    if (kind_ == None) {
        // A bus that is not there: QtKeychain finds no keyring at all.
        setEnvironment("DBUS_SESSION_BUS_ADDRESS", "unix:path=" + dir_.filePath("no-bus").toUtf8());
        setEnvironment("XDG_CURRENT_DESKTOP", "none");
        return true;
    }
    process_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process_.start(QStringLiteral("/usr/bin/python3"),
        {QStringLiteral(OG_SOURCE_DIR "/tests/support/fake_keyring.py"), QStringLiteral("--dump"),
            dir_.filePath(QStringLiteral("entries.json"))});
    if (!process_.waitForStarted(5000) || !process_.waitForReadyRead(15000))
        return false;
    const QByteArray address = process_.readLine().trimmed();
    if (!address.startsWith("unix:"))
        return false;
    setEnvironment("DBUS_SESSION_BUS_ADDRESS", address);
    // QtKeychain takes KWallet in a KDE session.
    setEnvironment("XDG_CURRENT_DESKTOP", "KDE");
    setEnvironment("KDE_SESSION_VERSION", "5");
    return true;
}

QJsonObject TestKeyring::entries() const
{
    QFile file(dir_.filePath(QStringLiteral("entries.json")));
    return file.open(QIODevice::ReadOnly) ? QJsonDocument::fromJson(file.readAll()).object() : QJsonObject();
}

} // namespace og::test
