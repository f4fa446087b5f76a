#include "common/AddressFile.h"

#include "common/ProfileFile.h"
#include "common/Trim.h"

#include <QFileInfo>

namespace og {

QString customerAddress(const QString& line)
{
    QString address = trimmed(line);
    if (!address.contains(u'@'))
        return {};
    const qsizetype blank = address.indexOf(u' ');
    if (blank >= 0)
        address.truncate(blank);
    return address;
}

AddressRecord addressRecord(const QString& line, int lineNumber)
{
    AddressRecord record;
    record.line = lineNumber;
    record.address = customerAddress(line);
    if (record.address.isEmpty())
        return record;
    // The fields were joined with " , "; a comma is the only cut the writer
    // promises, so each part is trimmed of the blanks around it.
    QStringList parts = line.split(u',');
    parts.removeFirst();
    for (const QString& part : parts)
        record.fields << trimmed(part);
    return record;
}

std::optional<QStringList> splitCommaLine(const QString& line, QString* why)
{
    QStringList fields;
    const qsizetype n = line.size();
    for (qsizetype i = 0;; ++i) { // i: the start of a field, after its comma
        const qsizetype start = i;
        while (i < n && line[i].unicode() <= 32)
            ++i;
        if (i < n && line[i] == u'"') {
            QString value;
            for (++i;; ++i) {
                if (i >= n) {
                    *why = QStringLiteral("a quoted field has no closing quote");
                    return std::nullopt;
                }
                if (line[i] == u'"' && (i + 1 >= n || line[i + 1] != u'"'))
                    break;
                if (line[i] == u'"')
                    ++i; // "" is one quote
                value += line[i];
            }
            for (++i; i < n && line[i].unicode() <= 32;)
                ++i;
            if (i < n && line[i] != u',') {
                *why = QStringLiteral("text follows a quoted field's closing quote");
                return std::nullopt;
            }
            fields << value;
        } else {
            i = line.indexOf(u',', i);
            if (i < 0)
                i = n;
            fields << trimmed(QStringView(line).sliced(start, i - start));
        }
        if (i >= n)
            return fields;
    }
}

QList<AddressRecord> addressRecords(const QStringList& lines)
{
    // A header row's file is written by hand or by a spreadsheet, which puts
    // no blank between an address and the comma after it, and quotes a
    // field that holds a comma or a quote.
    const bool header = !addressHeader(lines).isEmpty();
    QList<AddressRecord> records;
    for (int i = 0; i < lines.size(); ++i) {
        AddressRecord record = addressRecord(lines[i], i + 1);
        if (header && !record.address.isEmpty()) {
            QString why;
            std::optional<QStringList> fields = splitCommaLine(lines[i], &why);
            const bool readable = fields.has_value();
            if (!readable)
                fields = lines[i].split(u','); // only its address is used, to name it
            const QString address = trimmed(fields->takeFirst());
            record.address = address.left(address.indexOf(u' '));
            record.fields = readable ? *fields : QStringList();
        }
        if (!record.address.isEmpty())
            records << std::move(record);
    }
    return records;
}

QList<std::pair<int, QString>> unreadableAddressLines(const QStringList& lines)
{
    QList<std::pair<int, QString>> unreadable;
    if (addressHeader(lines).isEmpty())
        return unreadable;
    QString why;
    for (int i = 1; i < lines.size(); ++i)
        if (lines[i].contains(u'@') && !splitCommaLine(lines[i], &why))
            unreadable.append({i + 1, why});
    return unreadable;
}

QStringList addressHeader(const QStringList& lines)
{
    if (lines.isEmpty() || trimmed(lines.first()).isEmpty() || lines.first().contains(u'@'))
        return {};
    QString why;
    if (std::optional<QStringList> names = splitCommaLine(lines.first(), &why))
        return *names;
    QStringList names;
    for (const QString& name : lines.first().split(u','))
        names << trimmed(name);
    return names;
}

namespace {

const QString ColumnsSection = QStringLiteral("addressColumns");
const QString AddressWord = QStringLiteral("address");
const char* const FieldWords[] = {"order", "date", "name"}; // in the order of AddressField

} // namespace

QString AddressColumns::words() const
{
    QStringList words;
    for (uint8_t f = 0; f < 3; ++f)
        if (has(AddressField(f)))
            words << QLatin1String(FieldWords[f]);
    return words.isEmpty() ? AddressWord : words.join(u' ');
}

std::optional<AddressColumns> AddressColumns::fromWords(const QString& words)
{
    bool chosen[3] = {};
    for (const QString& word : words.split(u' ', Qt::SkipEmptyParts)) {
        int f = 0;
        while (f < 3 && word != QLatin1String(FieldWords[f]))
            ++f;
        if (f < 3)
            chosen[f] = true;
        else if (word != AddressWord)
            return std::nullopt;
    }
    return AddressColumns(chosen[0], chosen[1], chosen[2]);
}

void recordAddressColumns(const QString& settingsPath, const QString& addressFile, AddressColumns columns)
{
    ProfileFile::writeString(settingsPath, ColumnsSection, QFileInfo(addressFile).fileName(), columns.words());
}

std::optional<AddressColumns> recordedAddressColumns(const QString& settingsPath, const QString& addressFile)
{
    const QString words =
        ProfileFile::readString(settingsPath, ColumnsSection, QFileInfo(addressFile).fileName(), QString());
    return words.isEmpty() ? std::nullopt : AddressColumns::fromWords(words);
}

} // namespace og
