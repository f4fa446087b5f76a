#include "orders/ReportLayout.h"

#include "orders/ReportFields.h"

#include <array>

namespace og {

namespace {

// The quoted report opens with a header line of column names that starts
// with "A"; a blank line before it is allowed.
bool quotedHeader(QByteArrayView line, qsizetype i)
{
    return i <= 1 && line.front() == 'A';
}

// clang-format off
constexpr std::array<ReportLayout, 2> kLayouts {{
    // name           header        separator  fields              order product first last  date
    {QLatin1StringView("SWREG"),  nullptr,      ',', &bytes::commaField,  2,    3,      9,    10,   &bytes::swregDate},
    {QLatin1StringView("RegNet"), &quotedHeader, '"', &bytes::quotedField, 2,    6,      13,   14,   &bytes::quotedDate},
}};
// clang-format on

} // namespace

std::span<const ReportLayout> reportLayouts()
{
    return kLayouts;
}

const ReportLayout* headerLayout(QByteArrayView line, qsizetype i)
{
    for (const ReportLayout& layout : kLayouts) {
        if (layout.isHeader && layout.isHeader(line, i))
            return &layout;
    }
    return nullptr;
}

} // namespace og
