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

QList<AddressRecord> addressRecords(const QStringList& lines)
{
    // A header row's file is written by hand or by a spreadsheet, which puts
    // no blank between an address and the comma after it.
    const bool header = !addressHeader(lines).isEmpty();
    QList<AddressRecord> records;
    for (int i = 0; i < lines.size(); ++i) {
        AddressRecord record = addressRecord(lines[i], i + 1);
        if (header)
            record.address = trimmed(record.address.section(u',', 0, 0));
        if (!record.address.isEmpty())
            records << std::move(record);
    }
    return records;
}

QStringList addressHeader(const QStringList& lines)
{
    if (lines.isEmpty() || trimmed(lines.first()).isEmpty() || lines.first().contains(u'@'))
        return {};
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
