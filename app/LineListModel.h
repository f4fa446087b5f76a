#pragma once

#include "orders/LineBlock.h"

#include <QAbstractListModel>
#include <QFont>
#include <QSize>

namespace og {

// A read-only list model over a block of text lines, for views that must stay
// responsive with a million lines: rows are made into QStrings only when the
// view paints them, and every row reports the same size (the widest line in a
// fixed-pitch font), so the view never measures rows one by one.
class LineListModel : public QAbstractListModel {
    Q_OBJECT
public:
    explicit LineListModel(QObject* parent = nullptr);

    void setLines(LineBlock lines);
    void clear();
    const LineBlock& lines() const { return lines_; }

    // The font the view shows the lines in; it must be fixed-pitch for the
    // row width to be right.
    void setFont(const QFont& font);

    // The size every row reports (the widest line in the font).
    QSize rowSize() const { return rowSize_; }

    int rowCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;

private:
    void updateRowSize();

    LineBlock lines_;
    QFont font_;
    QSize rowSize_;
};

} // namespace og
