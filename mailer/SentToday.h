#pragma once
// What a provider account has sent in the last 24 hours, across runs: the
// one home of sent_today.txt in the program folder, one line a run that
// sent some, "2026-12-10T09:00:00Z<TAB>account<TAB>count", the account being
// the profile's name and the login (or the sender) in lower case. The file
// is read defensively: a line it cannot read counts nothing, a count or time
// out of range is held to what can only lower the day's allowance, never
// raise it.

#include "mailer/MailerSettings.h"
#include "mailer/ProviderProfile.h"

#include <QDateTime>
#include <QString>

#include <chrono>

namespace og {

class SentToday {
public:
    // programFolder ends with "/"; day: how long a send counts (shorter in tests).
    explicit SentToday(const QString& programFolder, std::chrono::milliseconds day = std::chrono::hours(24));

    static QString fileName() { return QStringLiteral("sent_today.txt"); }
    // The account a run's sends count against.
    static QString account(const ProviderProfile& profile, const MailerSettings& settings);

    DayAllowance allowance(const ProviderProfile& profile, const QString& account, const QDateTime& now) const;
    // Notes that the account sent count messages now; the lines older than
    // a day go. False with the reason when the file could not be written.
    bool add(const QString& account, int count, const QDateTime& now, QString* error) const;

private:
    struct Entry {
        QDateTime time;
        QString account;
        int count = 0;
    };
    // The entries of the last 24 hours before now, a time after now taken
    // as now.
    QList<Entry> recent(const QDateTime& now) const;

    QString path_;
    qint64 day_; // milliseconds
};

} // namespace og
