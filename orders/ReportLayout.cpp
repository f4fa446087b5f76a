#include "orders/ReportLayout.h"

#include <QDate>
#include <QDateTime>
#include <algorithm>
#include <array>

namespace og {

namespace {

// clang-format off
constexpr std::array<ReportLayout, 2> kLayouts {{
    // Fields split at every comma, no header line.
    {
        .name = QLatin1StringView("SWREG"),
        .csv = {',', CsvQuoting::None},
        .order = {2}, .product = {3}, .firstName = {9}, .lastName = {10}, .date = {1}, .address = {},
        .dateRule = ReportDateRule::MonthDayYear,
        .addressRule = ReportAddressRule::AroundFirstAt, .addressBoundary = ',',
    },
    // Every field in quotes; a header line of column names that starts
    // with "A" opens the report (a blank line before it is allowed).
    {
        .name = QLatin1StringView("RegNet"),
        .headerStart = 'A', .headerLastLine = 1,
        .csv = {',', CsvQuoting::QuotedFields},
        .order = {2}, .product = {6}, .firstName = {13}, .lastName = {14}, .date = {3}, .address = {},
        .dateRule = ReportDateRule::UpToFirstBlank,
        .addressRule = ReportAddressRule::AroundFirstAt, .addressBoundary = '"',
    },
}};
// clang-format on

} // namespace

namespace {

// value with ASCII letters lowered equals lower
bool lowerEquals(QByteArrayView value, QByteArrayView lower)
{
    for (qsizetype i = 0; i < value.size(); ++i) {
        const char c = value[i];
        if ((c >= 'A' && c <= 'Z' ? char(c + 32) : c) != lower[i])
            return false;
    }
    return true;
}

bool digits(QByteArrayView text, qsizetype from, qsizetype count)
{
    for (qsizetype i = from; i < from + count; ++i) {
        if (i >= text.size() || text[i] < '0' || text[i] > '9')
            return false;
    }
    return true;
}

// YYYY-MM-DD at the start, followed by nothing, "T" or a blank: the dates of
// ISO 8601, RFC 3339 and "YYYY-MM-DD HH:MM:SS +hhmm" alike. The time and
// its zone are dropped: the day is the one the store wrote.
bool isoDay(QByteArrayView value)
{
    return digits(value, 0, 4) && value.size() >= 10 && value[4] == '-' && digits(value, 5, 2) && value[7] == '-' &&
        digits(value, 8, 2) && (value.size() == 10 || value[10] == 'T' || value[10] == ' ');
}

} // namespace

int ReportLayout::lastColumn() const
{
    int last = std::max(order.position, product.position);
    last = std::max(last, std::max(firstName.position, lastName.position));
    last = std::max(last, std::max(date.position, address.position));
    last = std::max(last, std::max(addressElse.position, doNotContact.column.position));
    for (const ReportExclusion& rule : exclusions)
        last = std::max({last, rule.column.position, rule.unless.position, rule.total.position});
    return last;
}

QByteArrayView ReportLayout::orderDate(const CsvFields& row, QByteArray& spill) const
{
    switch (dateRule) {
    case ReportDateRule::MonthDayYear:
        return bytes::swregDate(row.record(), spill);
    case ReportDateRule::UpToFirstBlank:
        break;
    case ReportDateRule::Calendar: {
        const QByteArrayView value = field(row, date, spill);
        if (dateFormat.isEmpty())
            return isoDay(value) ? value.first(10) : bytes::firstWord(value);
        const QString text = QString::fromUtf8(value), format = QString::fromUtf8(dateFormat);
        QDate day = QDate::fromString(text, format);
        if (!day.isValid())
            day = QDateTime::fromString(text, format).date();
        if (!day.isValid())
            return bytes::firstWord(value);
        spill = day.toString(Qt::ISODate).toLatin1();
        return spill;
    }
    }
    return bytes::firstWord(field(row, date, spill));
}

void ReportLayout::names(
    const CsvFields& row, QByteArray& spill1, QByteArray& spill2, QByteArrayView* first, QByteArrayView* last) const
{
    *first = field(row, firstName, spill1);
    if (!wholeName) {
        *last = field(row, lastName, spill2);
        return;
    }
    const qsizetype blank = first->lastIndexOf(' ');
    *last = blank < 0 ? QByteArrayView() : first->sliced(blank + 1);
    *first = blank < 0 ? *first : bytes::trimmed(first->first(blank));
}

bool isOneOfValues(QByteArrayView value, QByteArrayView values)
{
    if (value.isEmpty() || value.size() > 40)
        return false;
    // the value lowered and ended by '\n', found where an entry starts:
    // "refunded" is not found in "partially_refunded"
    for (qsizetype at = 0; at + value.size() < values.size();) {
        if (values[at + value.size()] == '\n' && lowerEquals(value, values.sliced(at, value.size())))
            return true;
        // entries are short: no search call for the next one
        const auto end = std::find(values.begin() + at, values.end(), '\n');
        if (end == values.end())
            break;
        at = end - values.begin() + 1;
    }
    return false;
}

double amountOf(QByteArrayView text)
{
    // The last '.' or ',' followed by one or two digits to the end is the
    // decimal point; every other one groups thousands.
    QByteArray digits;
    qsizetype point = -1;
    bool negative = false;
    for (const char c : text) {
        if (c >= '0' && c <= '9')
            digits += c;
        else if (c == '.' || c == ',')
            point = digits.size();
        else if (c == '-' && digits.isEmpty())
            negative = true;
    }
    if (digits.isEmpty())
        return 0;
    const qsizetype decimals = point < 0 ? 0 : digits.size() - point;
    if (decimals == 1 || decimals == 2)
        digits.insert(point, '.');
    const double amount = digits.toDouble();
    return negative ? -amount : amount;
}

int ReportLayout::exclusionOf(const CsvFields& row, QByteArray& spill) const
{
    for (int k = 0; k < kExclusions; ++k) {
        const ReportExclusion& rule = exclusions[k];
        if (rule.column.position < 0)
            continue;
        const QByteArrayView value = field(row, rule.column, spill);
        if (rule.isAmountRule()) {
            QByteArray spillTotal;
            const double whole = amountOf(field(row, rule.total, spillTotal));
            // a cent short of the whole is a full refund written in a rounded way
            if (whole > 0 && amountOf(value) >= whole - 0.005)
                return k;
            continue;
        }
        if (!isOneOfValues(value, rule.values))
            continue;
        QByteArray spillUnless;
        if (rule.unless.position >= 0 && isOneOfValues(field(row, rule.unless, spillUnless), rule.unlessValues))
            continue;
        return k;
    }
    return -1;
}

bool ReportLayout::asksNoContact(const CsvFields& row, QByteArray& spill) const
{
    return doNotContact.column.position >= 0 &&
        isOneOfValues(field(row, doNotContact.column, spill), doNotContact.values);
}

QByteArrayView ReportLayout::productName(const CsvFields& row, QByteArray& spill) const
{
    const QByteArrayView value = field(row, product, spill);
    if (productEnd.isEmpty())
        return value;
    qsizetype end = value.size();
    for (qsizetype at = 0; at < productEnd.size();) {
        qsizetype stop = productEnd.indexOf('\n', at);
        stop = stop < 0 ? productEnd.size() : stop;
        if (const qsizetype found = value.first(end).indexOf(productEnd.sliced(at, stop - at)); found > 0)
            end = found;
        at = stop + 1;
    }
    return bytes::trimmed(value.first(end));
}

ReportLayout ReportLayout::withHeaderRow(QByteArrayView header) const
{
    ReportLayout layout = *this;
    for (ReportColumn* column :
        {&layout.order, &layout.product, &layout.firstName, &layout.lastName, &layout.date, &layout.address}) {
        if (!column->header.isEmpty())
            column->position = csv.columnNamed(header, column->header);
    }
    return layout;
}

std::span<const ReportLayout> reportLayouts()
{
    return kLayouts;
}

const ReportLayout* headerLayout(QByteArrayView line, qsizetype i)
{
    for (const ReportLayout& layout : kLayouts) {
        if (layout.isHeader(line, i))
            return &layout;
    }
    return nullptr;
}

} // namespace og
