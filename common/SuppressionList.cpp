#include "common/SuppressionList.h"

#include "common/ReplacingFile.h"
#include "common/TextFiles.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLockFile>
#include <QSet>

namespace og {

namespace {

bool isBlankOrControl(QChar c)
{
    return c.isSpace() || c.category() == QChar::Other_Control || c.category() == QChar::Other_Format ||
        c == QChar::LineSeparator || c == QChar::ParagraphSeparator;
}

// The first word of text from position from, and where the text after it
// begins.
QStringView nextWord(QStringView text, qsizetype* from)
{
    qsizetype i = *from;
    while (i < text.size() && isBlankOrControl(text[i]))
        ++i;
    const qsizetype start = i;
    while (i < text.size() && !isBlankOrControl(text[i]))
        ++i;
    *from = i;
    return text.sliced(start, i - start);
}

// The entry a line stands for, or an entry with an empty address when the
// line is a comment or no customer.
SuppressionList::Entry parseLine(QStringView line)
{
    SuppressionList::Entry entry;
    // Control characters part words as blanks do, at the start as anywhere.
    qsizetype lead = 0;
    while (lead < line.size() && isBlankOrControl(line[lead]))
        ++lead;
    const QStringView trimmed = line.sliced(lead).trimmed();
    if (trimmed.isEmpty() || trimmed.startsWith(u'#'))
        return entry;
    qsizetype at = 0;
    const QStringView address = nextWord(trimmed, &at);
    if (!address.contains(u'@'))
        return entry;
    entry.address = address.toString();
    qsizetype afterDate = at;
    const QStringView second = nextWord(trimmed, &afterDate);
    if (second.size() == 10) {
        const QDate date = QDate::fromString(second.toString(), Qt::ISODate);
        if (date.isValid()) {
            entry.date = date;
            at = afterDate;
        }
    }
    entry.reason = trimmed.sliced(at).trimmed().toString();
    return entry;
}

// What the file holds now, as bytes to keep unchanged: a missing file is
// none. Text after a Ctrl-Z is not part of the list (splitListLines), so it
// is dropped rather than left to hide the lines added after it.
bool readExisting(const QString& path, QByteArray* bytes, QString* error)
{
    bytes->clear();
    if (!QFileInfo::exists(path))
        return true;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = file.errorString();
        return false;
    }
    *bytes = file.readAll();
    if (file.error() != QFileDevice::NoError) {
        *error = file.errorString();
        return false;
    }
    const qsizetype stop = bytes->indexOf('\x1a');
    if (stop >= 0)
        bytes->truncate(stop);
    return true;
}

} // namespace

SuppressionList SuppressionList::read(const QString& path, QString* error)
{
    QStringList lines;
    bool exists = false;
    QString reason;
    SuppressionList list;
    if (!readListFile(path, &lines, &exists, &reason)) {
        if (error)
            *error = reason;
        return list;
    }
    if (error)
        error->clear();
    for (const QString& line : std::as_const(lines))
        list.add(parseLine(line));
    return list;
}

SuppressionList SuppressionList::fromText(const QString& text)
{
    SuppressionList list;
    const QStringList lines = splitListLines(text);
    for (const QString& line : lines)
        list.add(parseLine(line));
    return list;
}

void SuppressionList::add(Entry entry)
{
    if (entry.address.isEmpty())
        return;
    const QString folded = key(entry.address);
    if (!index_.contains(folded)) // a later line never shadows the first
        index_.insert(folded, entries_.size());
    entries_.append(std::move(entry));
}

const SuppressionList::Entry* SuppressionList::find(const QString& address) const
{
    const auto it = index_.constFind(key(address.trimmed()));
    return it == index_.cend() ? nullptr : &entries_.at(*it);
}

bool SuppressionList::isListableAddress(const QString& address)
{
    if (!address.contains(u'@'))
        return false;
    for (QChar c : address) {
        if (isBlankOrControl(c))
            return false;
    }
    return true;
}

QString SuppressionList::line(const Entry& entry)
{
    QString out = entry.address;
    if (entry.date.isValid())
        out += u' ' + entry.date.toString(Qt::ISODate);
    QString reason = entry.reason;
    for (QChar& c : reason) {
        if (isBlankOrControl(c))
            c = u' ';
    }
    reason = reason.simplified();
    if (!reason.isEmpty())
        out += u' ' + reason;
    return out;
}

bool SuppressionList::append(
    const QString& path, const QList<Entry>& entries, QString* error, QStringList* skipped, qsizetype* added)
{
    if (added)
        *added = 0;
    QString reason;
    // Two runs adding at once (a make and a bounce check) would otherwise
    // each replace the file with its own additions only.
    QLockFile lock(path + QStringLiteral(".lock"));
    if (!lock.tryLock(10000)) {
        if (error) {
            *error = lock.error() == QLockFile::LockFailedError
                ? QStringLiteral("another run is adding to it; try again when that run has ended")
                : QStringLiteral("its lock file %1.lock cannot be made here").arg(path);
        }
        return false;
    }
    QByteArray bytes;
    if (!readExisting(path, &bytes, &reason)) {
        if (error)
            *error = reason;
        return false;
    }
    const SuppressionList listed = fromText(decodeText(bytes));
    QSet<QString> taken;
    QByteArray lines;
    qsizetype count = 0;
    for (const Entry& entry : entries) {
        const QString address = entry.address.trimmed();
        if (!isListableAddress(address)) {
            if (skipped)
                skipped->append(entry.address);
            continue;
        }
        if (listed.contains(address) || taken.contains(key(address)))
            continue;
        taken.insert(key(address));
        Entry clean = entry;
        clean.address = address;
        lines += line(clean).toUtf8() + "\r\n";
        ++count;
    }
    if (count == 0)
        return true;
    if (!bytes.isEmpty() && !bytes.endsWith('\n') && !bytes.endsWith('\r'))
        bytes += "\r\n";
    bytes += lines;
    ReplacingFile file(path);
    if (!file.open() || file.device().write(bytes) != bytes.size() || !file.commit()) {
        if (error)
            *error = file.errorString();
        return false;
    }
    if (added)
        *added = count;
    return true;
}

bool SuppressedAddresses::read(const QString& folder, QString* error)
{
    const QDir dir(folder);
    for (auto [list, name] : {std::pair {&unsubscribed_, unsubscribedFileName}, {&bounced_, bouncedFileName}}) {
        const QString path = dir.filePath(QLatin1String(name));
        QString reason;
        *list = SuppressionList::read(path, &reason);
        if (!reason.isEmpty()) {
            *error = QStringLiteral("Cannot read the list %1: %2").arg(QDir::toNativeSeparators(path), reason);
            return false;
        }
    }
    return true;
}

QString SuppressedAddresses::why(const QString& address) const
{
    for (auto [list, word] : {std::pair {&unsubscribed_, "unsubscribed"}, {&bounced_, "bounced"}}) {
        if (const SuppressionList::Entry* entry = list->find(address)) {
            QStringList words {QLatin1String(word)};
            if (entry->date.isValid())
                words << entry->date.toString(Qt::ISODate);
            if (!entry->reason.isEmpty())
                words << entry->reason;
            return words.join(u' ');
        }
    }
    return QString();
}

} // namespace og
