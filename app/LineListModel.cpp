#include "app/LineListModel.h"

#include <QFontMetricsF>
#include <cmath>

namespace og {

LineListModel::LineListModel(QObject* parent)
    : QAbstractListModel(parent)
{
    updateRowSize();
}

void LineListModel::setLines(LineBlock lines)
{
    beginResetModel();
    lines_ = std::move(lines);
    updateRowSize();
    endResetModel();
}

void LineListModel::clear()
{
    setLines(LineBlock());
}

void LineListModel::setFont(const QFont& font)
{
    font_ = font;
    updateRowSize();
    if (!lines_.isEmpty())
        emit dataChanged(index(0), index(rowCount() - 1), {Qt::SizeHintRole});
}

void LineListModel::updateRowSize()
{
    // UTF-8 byte counts bound the character counts from above, and the
    // widest printable ASCII glyph bounds every ASCII glyph (the font may
    // turn out not to be fixed-pitch after all), so the widest line always
    // fits; only lines with non-ASCII text overestimate.
    qsizetype widest = 0;
    for (qsizetype i = 0; i < lines_.size(); ++i)
        widest = std::max(widest, lines_.bytesAt(i).size());
    // Fractional advances: rounded per glyph they would add up short.
    const QFontMetricsF metrics(font_);
    qreal charWidth = 1;
    for (char16_t c = 32; c < 127; ++c)
        charWidth = std::max(charWidth, metrics.horizontalAdvance(QChar(c)));
    const qreal width = std::min<qreal>(std::ceil(qreal(widest + 2) * charWidth), 1 << 20);
    rowSize_ = QSize(int(width), int(std::ceil(metrics.height())) + 2);
}

int LineListModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : int(lines_.size());
}

QVariant LineListModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= lines_.size())
        return {};
    switch (role) {
    case Qt::DisplayRole:
        return lines_.at(index.row());
    case Qt::SizeHintRole:
        return rowSize_;
    case Qt::FontRole:
        return font_;
    default:
        return {};
    }
}

} // namespace og
