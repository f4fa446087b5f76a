#include "mailer/ProviderProfile.h"

#include "common/ProfileFile.h"

#include <QLocale>

#include <algorithm>

namespace og {

namespace {

using Security = MailerSettings::Security;

const QString kPrefix = QStringLiteral("provider ");

QStringList names(const QString& list)
{
    QStringList result;
    for (const QString& name : list.split(u',', Qt::SkipEmptyParts))
        if (!name.trimmed().isEmpty())
            result << name.trimmed().toLower();
    return result;
}

} // namespace

bool ProviderProfile::matches(const QString& host) const
{
    const QString h = host.toLower();
    for (const QString& name : serverNames)
        if (h == name || h.endsWith(u'.' + name))
            return true;
    return false;
}

const QList<ProviderProfile>& builtInProfiles()
{
    // The providers' own pages, December 2026 (docs/mailer.md names them).
    static const QList<ProviderProfile> profiles {
        {QStringLiteral("Microsoft 365 / Outlook.com"),
            {QStringLiteral("office365.com"), QStringLiteral("outlook.com"), QStringLiteral("hotmail.com"),
                QStringLiteral("live.com")},
            QStringLiteral("smtp.office365.com:587"), Security::StartTls,
            {QStringLiteral("XOAUTH2"), QStringLiteral("LOGIN")}, 30, 3, 10000, 10000, 0},
        {QStringLiteral("Google Workspace"), {QStringLiteral("gmail.com"), QStringLiteral("googlemail.com")},
            QStringLiteral("smtp.gmail.com:465"), Security::Tls, {QStringLiteral("XOAUTH2"), QStringLiteral("PLAIN")},
            0, 0, 2000, 10000, 0},
        {QStringLiteral("Gmail"), {}, QStringLiteral("smtp.gmail.com:465"), Security::Tls,
            {QStringLiteral("XOAUTH2"), QStringLiteral("PLAIN")}, 0, 0, 500, 500, 0},
        {QStringLiteral("iCloud"), {QStringLiteral("mail.me.com"), QStringLiteral("icloud.com")},
            QStringLiteral("smtp.mail.me.com:587"), Security::StartTls, {QStringLiteral("PLAIN")}, 0, 0, 1000, 1000,
            20},
        {QStringLiteral("Yahoo"), {QStringLiteral("mail.yahoo.com")}, QStringLiteral("smtp.mail.yahoo.com:465"),
            Security::Tls, {QStringLiteral("PLAIN")}, 0, 0, 500, 500, 0},
        {QStringLiteral("Fastmail"), {QStringLiteral("fastmail.com")}, QStringLiteral("smtp.fastmail.com:465"),
            Security::Tls, {QStringLiteral("PLAIN")}, 0, 0, 0, 0, 0},
        {QStringLiteral("Zoho"), {QStringLiteral("zoho.com"), QStringLiteral("zoho.eu")},
            QStringLiteral("smtp.zoho.com:465"), Security::Tls, {QStringLiteral("PLAIN")}, 0, 0, 0, 0, 0},
        {QStringLiteral("Other"), {}, {}, Security::Automatic, {}, 0, 0, 0, 0, 0},
    };
    return profiles;
}

QList<ProviderProfile> vendorProfiles(const QString& settingsPath)
{
    const ProfileReader reader(settingsPath);
    QList<ProviderProfile> profiles;
    for (const QString& section : reader.sections()) {
        if (!section.startsWith(kPrefix, Qt::CaseInsensitive) || section.trimmed().size() <= kPrefix.size())
            continue;
        const auto number = [&](const char* key) {
            return std::max(0, reader.readString(section, QLatin1String(key), {}).trimmed().toInt());
        };
        ProviderProfile p;
        p.name = section.mid(kPrefix.size()).trimmed();
        p.serverNames = names(reader.readString(section, QStringLiteral("servers"), {}));
        p.server = reader.readString(section, QStringLiteral("server"), {}).trimmed();
        parseSecurity(reader.readString(section, QStringLiteral("security"), {}), &p.security);
        p.perMinute = number("rate");
        p.connections = number("connections");
        p.perDay = number("perday");
        p.recipientsPerDay = number("recipientsperday");
        p.largestMessageMB = number("largestmb");
        profiles << p;
    }
    return profiles;
}

ProviderProfile chooseProfile(const QString& server, const QString& settingsPath, const QString& named)
{
    const QList<ProviderProfile> all = vendorProfiles(settingsPath) + builtInProfiles();
    for (const ProviderProfile& p : all)
        if (!named.isEmpty() && p.name.compare(named.trimmed(), Qt::CaseInsensitive) == 0)
            return p;
    const QString host = parseServerAddress(server).host;
    for (const ProviderProfile& p : all)
        if (p.matches(host))
            return p;
    return builtInProfiles().last();
}

Pace paceFor(const ProviderProfile& profile, int rate, int connections, bool rateAsked, bool connectionsAsked)
{
    Pace pace;
    pace.perMinute = std::max(0, rate);
    pace.connections = std::max(1, connections);
    if (profile.perMinute > 0 && (pace.perMinute == 0 || (pace.perMinute > profile.perMinute && !rateAsked))) {
        if (pace.perMinute > 0)
            pace.lowered
                << QStringLiteral("the rate from %1 to %2 a minute").arg(pace.perMinute).arg(profile.perMinute);
        pace.perMinute = profile.perMinute;
    }
    if (profile.connections > 0 && pace.connections > profile.connections && !connectionsAsked) {
        pace.lowered << QStringLiteral("the connections from %1 to %2").arg(pace.connections).arg(profile.connections);
        pace.connections = profile.connections;
    }
    return pace;
}

QString runEstimate(int customers, int perMinute, const DayAllowance& day)
{
    const int left = day.left();
    const int today = left >= 0 ? std::min(customers, left) : customers;
    QString text = QStringLiteral("%1 customers").arg(customers);
    if (perMinute > 0) {
        const int minutes = (today + perMinute - 1) / perMinute;
        text += QStringLiteral(" at %1 a minute: about %2")
                    .arg(perMinute)
                    .arg(minutes <= 1      ? QStringLiteral("a minute")
                            : minutes < 90 ? QStringLiteral("%1 minutes").arg(minutes)
                                           : QStringLiteral("%1 hours").arg((minutes + 30) / 60));
    }
    if (today < customers)
        text += QStringLiteral("; the day's allowance of %1%2 covers %3, the other %4 can go from %5")
                    .arg(day.perDay)
                    .arg(day.sentBefore > 0 ? QStringLiteral(" (%1 sent in the last 24 hours)").arg(day.sentBefore)
                                            : QString())
                    .arg(today)
                    .arg(customers - today)
                    .arg(QLocale::c().toString(day.restFrom, QStringLiteral("yyyy-MM-dd HH:mm")));
    return text;
}

} // namespace og
