#include "mailer/SentToday.h"

#include "common/ReplacingFile.h"

#include <QFile>

#include <algorithm>

namespace og {

namespace {

// A file of one line a run stays small; a larger one is not ours to read whole.
constexpr qint64 MaxBytes = 1 << 20;
constexpr int MaxCount = 1000000;

} // namespace

SentToday::SentToday(const QString& programFolder, std::chrono::milliseconds day)
    : path_(programFolder + fileName()),
      day_(day.count())
{
}

QString SentToday::account(const ProviderProfile& profile, const MailerSettings& settings)
{
    const QString who = settings.userName.trimmed().isEmpty() ? settings.sender : settings.userName;
    return (profile.name + u':' + who.trimmed()).toLower().simplified().remove(u'\t');
}

QList<SentToday::Entry> SentToday::recent(const QDateTime& now) const
{
    QList<Entry> entries;
    QFile file(path_);
    if (!file.open(QIODevice::ReadOnly))
        return entries;
    const QByteArray text = file.read(MaxBytes);
    for (const QByteArray& line : text.split('\n')) {
        const QList<QByteArray> fields = line.trimmed().split('\t');
        if (fields.size() != 3)
            continue;
        Entry e;
        e.time = QDateTime::fromString(QString::fromLatin1(fields[0]), Qt::ISODate);
        e.account = QString::fromUtf8(fields[1]);
        bool ok = false;
        e.count = fields[2].toInt(&ok);
        if (!e.time.isValid() || !ok || e.count <= 0)
            continue;
        // A count too large only lowers the allowance; a time ahead of the
        // clock is taken as now, so it cannot hold the allowance for ever.
        e.count = std::min(e.count, MaxCount);
        e.time = std::min(e.time, now);
        if (e.time.msecsTo(now) < day_)
            entries << e;
    }
    return entries;
}

DayAllowance SentToday::allowance(const ProviderProfile& profile, const QString& account, const QDateTime& now) const
{
    DayAllowance a;
    a.perDay = profile.perDay;
    a.restFrom = now.addMSecs(day_);
    if (a.perDay <= 0)
        return a;
    for (const Entry& e : recent(now)) {
        if (e.account != account)
            continue;
        a.sentBefore = std::min(a.perDay, a.sentBefore + e.count);
        // The earliest of them frees its part of the allowance first.
        a.restFrom = std::min(a.restFrom, e.time.addMSecs(day_));
    }
    return a;
}

bool SentToday::add(const QString& account, int count, const QDateTime& now, QString* error) const
{
    if (count <= 0)
        return true;
    QByteArray text;
    for (const Entry& e : recent(now))
        text += e.time.toUTC().toString(Qt::ISODateWithMs).toLatin1() + '\t' + e.account.toUtf8() + '\t' +
            QByteArray::number(e.count) + '\n';
    text += now.toUTC().toString(Qt::ISODateWithMs).toLatin1() + '\t' + account.toUtf8() + '\t' +
        QByteArray::number(std::min(count, MaxCount)) + '\n';
    ReplacingFile file(path_);
    if (file.open() && file.device().write(text) == text.size() && file.commit())
        return true;
    *error = QStringLiteral("Unable to write %1: %2").arg(path_, file.errorString());
    return false;
}

} // namespace og
