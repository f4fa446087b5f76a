#include "common/AddressFile.h"

#include "common/Trim.h"

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
    QList<AddressRecord> records;
    for (int i = 0; i < lines.size(); ++i) {
        AddressRecord record = addressRecord(lines[i], i + 1);
        if (!record.address.isEmpty())
            records << std::move(record);
    }
    return records;
}

} // namespace og
