#pragma once
// What tells the stores' report layouts apart, one entry per store. A new
// store is one more entry in reportLayouts() (and its tests); the intake and
// the order pass only ask the entry.

#include <QByteArray>
#include <QByteArrayView>
#include <QLatin1StringView>
#include <span>

namespace og {

struct ReportLayout {
    // As the run statistics name the store ("Used report from ...").
    QLatin1StringView name;
    // Whether a line (not blank, untrimmed) at index i of the report is the
    // header line that announces this layout; null for the layout taken
    // when no header says otherwise. The header line is no order.
    bool (*isHeader)(QByteArrayView line, qsizetype i);
    // The character that ends the customer's address on either side.
    char separator;
    // Field n (from 0) of a line, trimmed: a view into line or into spill.
    QByteArrayView (*field)(QByteArrayView line, int n, QByteArray& spill);
    int orderField;
    int productField;
    int firstNameField;
    int lastNameField;
    // The order date as the address file writes it.
    QByteArrayView (*date)(QByteArrayView line, QByteArray& spill);
};

// Every layout; the first is the one taken without a header line.
std::span<const ReportLayout> reportLayouts();
inline const ReportLayout& defaultReportLayout()
{
    return reportLayouts().front();
}
// The layout that line i announces as its header, or null.
const ReportLayout* headerLayout(QByteArrayView line, qsizetype i);

} // namespace og
