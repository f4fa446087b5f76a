#pragma once
// The address file email_<product>.txt, the one file both jobs share: the
// first job writes it, the mailer reads it back as one record a customer.
// A line is the address, then " , " and the fields the first job's options
// chose (order number, date, name), in that order.

#include <QString>
#include <QStringList>

namespace og {

struct AddressRecord {
    QString address;    // what the mail goes to
    QStringList fields; // every field of the line after the address, trimmed
    int line = 0;       // 1-based line of the file, for messages that name it
};

// The address of one line, or an empty text when the line is not a
// customer (no "@"): the trimmed line up to its first blank.
QString customerAddress(const QString& line);

// The record of one line, or a record with an empty address when the line
// is not a customer.
AddressRecord addressRecord(const QString& line, int lineNumber);

// The customers of an address file's lines, in their order.
QList<AddressRecord> addressRecords(const QStringList& lines);

} // namespace og
