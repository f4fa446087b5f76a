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
#include <array>
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
    // The date column as ISO 8601 or RFC 3339 (also "YYYY-MM-DD HH:MM:SS
    // +hhmm"), or in the layout's dateFormat, written YYYY-MM-DD; a value
    // that is neither is written up to its first blank.
    Calendar,
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

// A rule of a header-row report that excludes a row: refunds, chargebacks,
// disputes lost, test orders. Lists of values: lower-case, each ended by
// '\n', compared with a whole value ignoring case.
struct ReportExclusion {
    // The row is excluded when column holds one of values ...
    ReportColumn column {};
    QByteArrayView values {};
    // ... unless the unless column holds one of unlessValues (a dispute the
    // vendor won) ...
    ReportColumn unless {};
    QByteArrayView unlessValues {};
    // ... or, when total is known, when column's amount is the whole of
    // total's (a refund of the full price): values are then not used.
    ReportColumn total {};

    bool isAmountRule() const { return total.position >= 0; }
};

// Whether value equals one of values (as in ReportExclusion), ignoring case.
bool isOneOfValues(QByteArrayView value, QByteArrayView values);
// An amount as stores write it ("1,234.50", "12,50", "$ 9.99", "-3"); 0
// when the text holds no digit.
double amountOf(QByteArrayView text);

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
    // In the address column rule: the column read when address is empty.
    ReportColumn addressElse {};
    ReportDateRule dateRule = ReportDateRule::UpToFirstBlank;
    ReportAddressRule addressRule = ReportAddressRule::AroundFirstAt;
    char addressBoundary = ',';
    // Header-row layouts: line 0 names the columns and is no order.
    bool headerRow = false;
    // One row per item: a row with an empty address whose order number is
    // that of the row before takes the address, names, date and exclusions
    // from the order's first row.
    bool rowsPerItem = false;
    // One column of the whole name (in firstName): cut at its last blank.
    bool wholeName = false;
    QByteArrayView dateFormat {}; // a QDate format for the Calendar rule
    static constexpr int kExclusions = 3;
    ReportExclusion exclusions[kExclusions] {};
    // A customer who asked not to be mailed (column and values as in an
    // exclusion): the account is made, the address goes on the suppression
    // list.
    ReportExclusion doNotContact {};
    // Where a product column's value ends, when the store writes more after
    // the name ("Tool|29.00{0}"): texts each ended by '\n'; the name is the
    // text before the first found.
    QByteArrayView productEnd {};

    bool isHeader(QByteArrayView line, qsizetype i) const
    {
        return headerStart && i <= headerLastLine && !line.isEmpty() && line.front() == headerStart;
    }
    // The fields of an order are read from a row: the line cut once into
    // the columns this layout reads (see CsvFields). Each reader below also
    // takes a line as it is, for a few reads of one line.
    void cut(CsvFields& row, QByteArrayView line) const { row.cut(csv, line, lastColumn()); }
    // The last column read, -1 for none.
    int lastColumn() const;
    // The columns an order pass reads of a row (-1: none), whose places a
    // row's cut keeps for it.
    std::array<int, KeptFields::kColumns> orderColumns() const
    {
        return {order.position, address.position, addressElse.position, date.position, firstName.position,
            lastName.position};
    }

    // A column's field of a row, trimmed: a view into the line or into spill.
    QByteArrayView field(const CsvFields& row, const ReportColumn& column, QByteArray& spill) const
    {
        return column.position < 0 ? QByteArrayView() : row.field(column.position, spill);
    }
    QByteArrayView field(QByteArrayView line, const ReportColumn& column, QByteArray& spill) const
    {
        return field(CsvFields(csv, line), column, spill);
    }
    // The customer's address; untrimmed around the first "@".
    QByteArrayView orderAddress(const CsvFields& row, QByteArray& spill) const
    {
        if (addressRule == ReportAddressRule::AroundFirstAt)
            return bytes::orderAddress(row.record(), addressBoundary);
        const QByteArrayView first = field(row, address, spill);
        return first.isEmpty() ? field(row, addressElse, spill) : first;
    }
    QByteArrayView orderAddress(QByteArrayView line, QByteArray& spill) const
    {
        return orderAddress(CsvFields(csv, line), spill);
    }
    // The order date as the address file writes it.
    QByteArrayView orderDate(const CsvFields& row, QByteArray& spill) const;
    QByteArrayView orderDate(QByteArrayView line, QByteArray& spill) const
    {
        return orderDate(CsvFields(csv, line), spill);
    }
    // The customer's first and last name.
    void names(const CsvFields& row, QByteArray& spill1, QByteArray& spill2, QByteArrayView* first,
        QByteArrayView* last) const;
    void names(
        QByteArrayView line, QByteArray& spill1, QByteArray& spill2, QByteArrayView* first, QByteArrayView* last) const
    {
        names(CsvFields(csv, line), spill1, spill2, first, last);
    }
    // The exclusion (an index into exclusions) that a row's value matches,
    // or -1.
    int exclusionOf(const CsvFields& row, QByteArray& spill) const;
    // Whether the row's customer asked not to be mailed.
    bool asksNoContact(const CsvFields& row, QByteArray& spill) const;
    // The product's name in a row (productEnd applied).
    QByteArrayView productName(const CsvFields& row, QByteArray& spill) const;
    QByteArrayView productName(QByteArrayView line, QByteArray& spill) const
    {
        return productName(CsvFields(csv, line), spill);
    }
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
