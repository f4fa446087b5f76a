#pragma once
// What a mail provider allows a sending account, as data: one table of the
// providers Ordergate knows, and the vendor's own in the settings file as
// [provider NAME] sections (keys below). A run is paced by the profile its
// server matches; docs/mailer.md names where each value comes from.

#include "mailer/MailerSettings.h"

#include <QDateTime>
#include <QString>
#include <QStringList>

#include <algorithm>

namespace og {

struct ProviderProfile {
    QString name;            // in messages: "Microsoft 365 / Outlook.com"
    QStringList serverNames; // host names it matches, a name or any name below it
    QString server;          // the submission server, "host:port"
    MailerSettings::Security security = MailerSettings::Security::Automatic;
    QStringList logins;       // login methods, the preferred first
    int perMinute = 0;        // messages a minute; 0: no limit known
    int connections = 0;      // connections at once; 0: no limit known
    int perDay = 0;           // messages a day (a rolling 24 hours)
    int recipientsPerDay = 0; // recipients a day
    int largestMessageMB = 0; // the largest message, in megabytes

    bool matches(const QString& host) const;
};

// The built-in profiles, "Other" (no limit) last.
const QList<ProviderProfile>& builtInProfiles();

// The vendor's own profiles in the settings file, each a section
// [provider NAME] with the keys servers (names, comma-separated), server,
// security, rate, connections, perday, recipientsperday, largestmb; they come before
// the built-in ones of the same server.
QList<ProviderProfile> vendorProfiles(const QString& settingsPath);

// The profile named (any case), else the one whose server names the
// server's host matches, else "Other".
ProviderProfile chooseProfile(const QString& server, const QString& settingsPath, const QString& named = {});

// The day's allowance of a profile for one account (mailer/SentToday.h
// counts what earlier runs sent).
struct DayAllowance {
    int perDay = 0;     // the profile's messages a day; 0: no limit
    int sentBefore = 0; // by earlier runs in the last 24 hours
    QDateTime restFrom; // when what it does not cover can go
    // What the allowance still covers; -1: no limit.
    int left() const { return perDay > 0 ? std::max(0, perDay - sentBefore) : -1; }
};

// A rate and connections for a run: the settings' within the profile's.
struct Pace {
    int perMinute = 0; // 0: no limit
    int connections = 1;
    QStringList lowered; // what the profile lowered, and from what
};
// The settings' rate (0: the profile's) and connections, lowered to the
// profile's unless `asked`: a value given on the command line on purpose.
Pace paceFor(const ProviderProfile& profile, int rate, int connections, bool rateAsked, bool connectionsAsked);

// What a run of `customers` takes at `perMinute` (0: no limit) and, when
// the day's allowance covers fewer, how many go now and from when the rest
// may go: "245 customers at 30 a minute: about 9 minutes".
QString runEstimate(int customers, int perMinute, const DayAllowance& day);

} // namespace og
