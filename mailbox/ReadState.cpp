#include "mailbox/ReadState.h"

#include "common/ReplacingFile.h"

#include <QDir>
#include <QFile>
#include <QUrl>

#include <algorithm>

namespace og {

namespace {

QString key(const QString& account, const QString& folder)
{
    return account + u'\n' + folder;
}

QString encoded(const QString& text)
{
    return QString::fromLatin1(QUrl::toPercentEncoding(text, "@:"));
}

QString decoded(QStringView text)
{
    return QUrl::fromPercentEncoding(text.toLatin1());
}

QString ranges(const QSet<quint32>& set)
{
    QList<quint32> uids(set.begin(), set.end());
    std::sort(uids.begin(), uids.end());
    QStringList parts;
    for (qsizetype i = 0; i < uids.size();) {
        qsizetype j = i;
        while (j + 1 < uids.size() && uids[j + 1] == uids[j] + 1)
            ++j;
        parts << (i == j ? QString::number(uids[i]) : QString::number(uids[i]) + u'-' + QString::number(uids[j]));
        i = j + 1;
    }
    return parts.join(u',');
}

// At most this many UIDs from one range, so a damaged line cannot fill
// the memory.
constexpr quint32 MaxRange = 1000000;

QSet<quint32> fromRanges(QStringView text)
{
    QSet<quint32> uids;
    for (QStringView part : text.split(u',', Qt::SkipEmptyParts)) {
        const qsizetype dash = part.indexOf(u'-');
        bool ok1 = false, ok2 = false;
        const quint32 first = part.left(dash < 0 ? part.size() : dash).toUInt(&ok1);
        const quint32 last = dash < 0 ? first : part.mid(dash + 1).toUInt(&ok2);
        if (!ok1 || (dash >= 0 && !ok2) || last < first || last - first > MaxRange)
            continue;
        for (quint32 uid = first;; ++uid) {
            uids.insert(uid);
            if (uid == last)
                break;
        }
    }
    return uids;
}

} // namespace

QString ReadState::pathIn(const QString& folder)
{
    return QDir(folder).filePath(QStringLiteral("mailbox_read.txt"));
}

bool ReadState::load(const QString& path, QString* why)
{
    folders_.clear();
    soft_.clear();
    QFile file(path);
    if (!file.exists())
        return true;
    if (!file.open(QIODevice::ReadOnly)) {
        *why = QStringLiteral("%1 cannot be read: %2").arg(QDir::toNativeSeparators(path), file.errorString());
        return false;
    }
    while (!file.atEnd()) {
        const QString line = QString::fromUtf8(file.readLine(1 << 22)).trimmed();
        const QStringList words = line.split(u' ', Qt::SkipEmptyParts);
        if (words.size() == 5 && words[0] == u"read") {
            Folder& f = folders_[key(decoded(words[1]), decoded(words[2]))];
            f.uidValidity = words[3].toUInt();
            f.uids = fromRanges(words[4]);
        } else if (words.size() == 4 && words[0] == u"soft") {
            const QDate day = QDate::fromString(words[2], Qt::ISODate);
            if (day.isValid())
                soft_[words[1]].append({day, words[3] == u"-" ? QString() : words[3]});
        }
    }
    return true;
}

bool ReadState::save(const QString& path, QString* why) const
{
    QString text = QStringLiteral("# What ordergate-cli bounces has read from the mailbox, so that it reads "
                                  "nothing twice, and the soft bounces of each address.\n");
    QStringList keys = folders_.keys();
    keys.sort();
    for (const QString& k : std::as_const(keys)) {
        const Folder& f = folders_[k];
        if (!f.uids.isEmpty())
            text += QStringLiteral("read %1 %2 %3 %4\n")
                        .arg(encoded(k.section(u'\n', 0, 0)), encoded(k.section(u'\n', 1)))
                        .arg(f.uidValidity)
                        .arg(ranges(f.uids));
    }
    QStringList addresses = soft_.keys();
    addresses.sort();
    for (const QString& address : std::as_const(addresses)) {
        for (const Soft& s : soft_[address])
            text += QStringLiteral("soft %1 %2 %3\n")
                        .arg(address, s.day.toString(Qt::ISODate),
                            s.messageId.isEmpty() ? QStringLiteral("-") : s.messageId);
    }
    ReplacingFile file(path);
    if (!file.open() || file.device().write(text.toUtf8()) < 0 || !file.commit()) {
        *why = QStringLiteral("%1 cannot be written: %2").arg(QDir::toNativeSeparators(path), file.errorString());
        return false;
    }
    return true;
}

QSet<quint32> ReadState::readUids(const QString& account, const QString& folder, quint32 uidValidity) const
{
    const auto found = folders_.constFind(key(account, folder));
    return found != folders_.cend() && found->uidValidity == uidValidity ? found->uids : QSet<quint32>();
}

void ReadState::markRead(const QString& account, const QString& folder, quint32 uidValidity, quint32 uid)
{
    Folder& f = folders_[key(account, folder)];
    if (f.uidValidity != uidValidity)
        f = Folder {uidValidity, {}};
    f.uids.insert(uid);
}

bool ReadState::softBounce(const QString& address, const QDate& day, const QString& messageId)
{
    QList<Soft>& history = soft_[address];
    const bool known = !messageId.isEmpty() &&
        std::any_of(history.cbegin(), history.cend(), [&](const Soft& s) { return s.messageId == messageId; });
    if (!known)
        history.append({day, messageId});
    if (softBounceDays(address) < SoftBouncesToSuppress)
        return false;
    forget(address);
    return true;
}

void ReadState::forget(const QString& address)
{
    soft_.remove(address);
}

int ReadState::softBounceDays(const QString& address) const
{
    QSet<QDate> days;
    for (const Soft& s : soft_.value(address))
        days.insert(s.day);
    return int(days.size());
}

} // namespace og
