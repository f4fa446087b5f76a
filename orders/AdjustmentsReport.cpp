#include "orders/AdjustmentsReport.h"

#include "common/TextFiles.h"
#include "orders/CsvReader.h"
#include "orders/StoreLayouts.h"

#include <QSet>

namespace og {

namespace {

int columnNamed(const QStringList& header, const QStringList& names)
{
    for (const QString& name : names) {
        const qsizetype at = header.indexOf(comparableHeaderName(name));
        if (at >= 0)
            return int(at);
    }
    return -1;
}

bool isOneOf(const QByteArray& value, const QStringList& words)
{
    for (const QString& word : words) {
        if (QString::fromUtf8(value).compare(word, Qt::CaseInsensitive) == 0)
            return true;
    }
    return false;
}

} // namespace

const QList<AdjustmentLayout>& adjustmentLayouts()
{
    // Refunds wait for Paddle's approval (pending_approval, then approved or
    // rejected); a chargeback is made approved. A partial refund keeps the
    // purchase, as a partial refund does in the stores' own exports.
    static const QList<AdjustmentLayout> layouts = {{
        QStringLiteral("Paddle adjustments"),
        {"transaction_id"},
        {"action"},
        {"refund", "chargeback"},
        {"chargeback_reverse"},
        {"status"},
        {"approved"},
        {"type"},
        {"partial"},
    }};
    return layouts;
}

std::optional<OrderAdjustments> readAdjustments(const QByteArray& bytes, QString* problem)
{
    const QByteArray text = toValidUtf8(bytes);
    qsizetype headerEnd = text.indexOf('\n');
    const QByteArrayView firstLine = QByteArrayView(text).first(headerEnd < 0 ? text.size() : headerEnd);
    const char separator = headerSeparator(firstLine);
    QStringList header = headerColumns(firstLine, separator);
    for (QString& name : header)
        name = comparableHeaderName(name);
    for (const AdjustmentLayout& layout : adjustmentLayouts()) {
        const int order = columnNamed(header, layout.order), action = columnNamed(header, layout.action),
                  status = columnNamed(header, layout.status), partial = columnNamed(header, layout.partialColumn);
        if (order < 0 || action < 0 || status < 0)
            continue;
        OrderAdjustments out;
        out.layout = layout.name;
        QSet<QByteArray> reversed;
        const CsvReader csv {separator, CsvQuoting::Rfc4180};
        QByteArray spill;
        const QByteArrayView all(text);
        qsizetype start = headerEnd < 0 ? all.size() : headerEnd + 1;
        while (start < all.size()) {
            const qsizetype end = csv.recordEnd(all, start);
            const QByteArrayView record = all.sliced(start, end - start);
            start = end + (end + 1 < all.size() && all[end] == '\r' && all[end + 1] == '\n' ? 2 : 1);
            const CsvFields row(csv, record);
            const QByteArray id = row.field(order, spill).toByteArray();
            if (id.isEmpty())
                continue;
            ++out.rows;
            const QByteArray what = row.field(action, spill).toByteArray();
            if (isOneOf(what, layout.givesBack)) {
                reversed.insert(id);
                continue;
            }
            if (!isOneOf(what, layout.takesBack) || !isOneOf(row.field(status, spill).toByteArray(), layout.countsWhen))
                continue;
            if (partial >= 0 && isOneOf(row.field(partial, spill).toByteArray(), layout.partialValues))
                continue;
            out.takenBack.insert(id, QString::fromUtf8(what).toLower() + QStringLiteral(" (") + layout.name + u')');
        }
        for (const QByteArray& id : std::as_const(reversed))
            out.takenBack.remove(id);
        return out;
    }
    if (problem)
        *problem = QStringLiteral("the adjustments report's header row has no column for the transaction, its action "
                                  "or its status (transaction_id, action, status)");
    return std::nullopt;
}

} // namespace og
