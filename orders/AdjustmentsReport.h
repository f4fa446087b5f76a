#pragma once
// A second report that takes orders back after the sale: Paddle's
// adjustments report, whose refunds and chargebacks name the transaction they
// undo. Its columns mirror the Paddle API's adjustment fields; which actions
// and statuses count is the data below (adjustmentLayouts), so another
// store's refunds report is one more value there.

#include <QByteArray>
#include <QHash>
#include <QString>
#include <QStringList>
#include <optional>

namespace og {

struct AdjustmentLayout {
    QString name;              // "Paddle adjustments"
    QStringList order;         // the column naming the order undone
    QStringList action;        // the column saying what was done
    QStringList takesBack;     // actions that take the order back
    QStringList givesBack;     // actions that undo one of those (a chargeback reversed)
    QStringList status;        // the column of the adjustment's status
    QStringList countsWhen;    // statuses under which an adjustment counts
    QStringList partialColumn; // a column saying whether it was the whole order ...
    QStringList partialValues; // ... and the values that say it was a part of it
};

// Every layout of such a report (Paddle's adjustments for now).
const QList<AdjustmentLayout>& adjustmentLayouts();

// Order numbers (as written in the sales report) and why they are taken
// back: "refund (Paddle adjustments)".
struct OrderAdjustments {
    QString layout;
    QHash<QByteArray, QString> takenBack;
    qsizetype rows = 0; // adjustment rows read
};

// Reads an adjustments report (bytes of the file, decoded as the program's
// text files are). Nothing, with problem saying why, when its header row is
// not one of adjustmentLayouts().
std::optional<OrderAdjustments> readAdjustments(const QByteArray& bytes, QString* problem);

} // namespace og
