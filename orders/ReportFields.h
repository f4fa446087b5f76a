#pragma once
// Cutting one report line into the fields of an order.

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringView>

#include "common/Trim.h"

namespace og {

// Field n (from 0) of a comma-separated line, trimmed; empty when fewer than
// n+1 commas stand in the line (so the last field always comes out empty).
QString CommaField(QStringView line, int n);
// The same with the three-character separator "," of quoted reports.
QString QuotedField(QStringView line, int n);
// The text around the first "@" up to the nearest separator on either side,
// not trimmed.
QString OrderAddress(QStringView line, QChar separator);
// Month-day-year from a field 1 such as "Tue Jan 01 10:00:00 2002".
QString SwregDate(QStringView line);
// Order date of a quoted report: field 3 up to its first blank.
QString QuotedDate(QStringView line);

// The same on UTF-8 bytes, for the long runs. Each returns a view into line,
// or into spill when the line is long enough for the 9,999-character limit of
// the field rules to matter.
namespace bytes {
QByteArrayView commaField(QByteArrayView line, int n, QByteArray& spill);
QByteArrayView quotedField(QByteArrayView line, int n, QByteArray& spill);
// The same two rules with any separator character instead of the comma.
QByteArrayView separatedField(QByteArrayView line, char separator, int n, QByteArray& spill);
QByteArrayView quotedSeparatedField(QByteArrayView line, char separator, int n, QByteArray& spill);
QByteArrayView orderAddress(QByteArrayView line, char separator);
QByteArrayView swregDate(QByteArrayView line, QByteArray& spill);
QByteArrayView quotedDate(QByteArrayView line, QByteArray& spill);
// text up to its first blank: how a quoted report's date drops its time.
inline QByteArrayView firstWord(QByteArrayView text)
{
    const qsizetype blank = text.indexOf(' ');
    return blank >= 0 ? text.first(blank) : text;
}
} // namespace bytes

} // namespace og
