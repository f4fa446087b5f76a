#include "orders/ReportLayout.h"

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

QByteArrayView ReportLayout::orderDate(QByteArrayView line, QByteArray& spill) const
{
    switch (dateRule) {
    case ReportDateRule::MonthDayYear:
        return bytes::swregDate(line, spill);
    case ReportDateRule::UpToFirstBlank:
        break;
    }
    return bytes::firstWord(field(line, date, spill));
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
