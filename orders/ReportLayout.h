#pragma once
// A store's report layout as a value: how its report is recognised, read
// and cut into the fields of an order. A new store is one more value in
// reportLayouts() (and its row in the layout test); the intake and the order
// pass only ask the value.

#include "orders/CsvReader.h"
#include "orders/ReportFields.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QLatin1StringView>
#include <cstdint>
#include <span>

namespace og {

// A column of the report: by its position, or by its name in the report's
// header row (withHeaderRow() then finds the position).
struct ReportColumn {
    int position = -1; // from 0; -1: not known, the field reads empty
    QLatin1StringView header {};
};

// How the order date of the address file is made.
enum class ReportDateRule : uint8_t {
    // Month-day-year from the words "weekday month day hh:mm:ss year" of
    // field 1 of a comma-separated line (SwregDate).
    MonthDayYear,
    // The date column up to its first blank.
    UpToFirstBlank,
};

// Where the customer's address stands.
enum class ReportAddressRule : uint8_t {
    // Around the first "@" of the line, out to the nearest addressBoundary
    // on either side (OrderAddress): it needs no column, and only the first
    // "@" counts.
    AroundFirstAt,
    // In the address column.
    InColumn,
};

struct ReportLayout {
    // As the run statistics name the store ("Used report from ...").
    QLatin1StringView name;
    // Detection: a line (not blank, untrimmed) at index headerLastLine or
    // before that begins with headerStart is the header that announces this
    // layout; it is no order. 0: the layout taken when no header says
    // otherwise.
    char headerStart = 0;
    qsizetype headerLastLine = -1;
    CsvReader csv {',', CsvQuoting::None};
    ReportColumn order, product, firstName, lastName, date, address;
    ReportDateRule dateRule = ReportDateRule::UpToFirstBlank;
    ReportAddressRule addressRule = ReportAddressRule::AroundFirstAt;
    char addressBoundary = ',';

    bool isHeader(QByteArrayView line, qsizetype i) const
    {
        return headerStart && i <= headerLastLine && !line.isEmpty() && line.front() == headerStart;
    }
    // A column's field of a line, trimmed: a view into line or into spill.
    QByteArrayView field(QByteArrayView line, const ReportColumn& column, QByteArray& spill) const
    {
        return column.position < 0 ? QByteArrayView() : csv.field(line, column.position, spill);
    }
    // The customer's address; untrimmed around the first "@".
    QByteArrayView orderAddress(QByteArrayView line, QByteArray& spill) const
    {
        if (addressRule == ReportAddressRule::AroundFirstAt)
            return bytes::orderAddress(line, addressBoundary);
        return field(line, address, spill);
    }
    // The order date as the address file writes it.
    QByteArrayView orderDate(QByteArrayView line, QByteArray& spill) const;
    // This layout with the position of each column named by its header
    // found in the header record (-1 when it is not there).
    ReportLayout withHeaderRow(QByteArrayView header) const;
};

// Every built-in layout; the first is the one taken without a header line.
std::span<const ReportLayout> reportLayouts();
inline const ReportLayout& defaultReportLayout()
{
    return reportLayouts().front();
}
// The layout that line i announces as its header, or null.
const ReportLayout* headerLayout(QByteArrayView line, qsizetype i);

} // namespace og
