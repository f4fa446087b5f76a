#include "platform/ReflowForm.h"

#include <QEvent>
#include <QGridLayout>
#include <QHash>
#include <QStyle>

#include <algorithm>

namespace og {

namespace {
constexpr int WideColumns = 4, NarrowColumns = 2;
} // namespace

ReflowForm::ReflowForm(QWidget* parent)
    : QWidget(parent),
      grid_(new QGridLayout(this))
{
    grid_->setContentsMargins(QMargins());
    // The form's minimum is its narrow arrangement's, whichever it shows:
    // the layout must not pin the wide one's on the widget.
    grid_->setSizeConstraint(QLayout::SetNoConstraint);
}

void ReflowForm::addWidget(QWidget* widget, int row, int column, [[maybe_unused]] int rowSpan, int columnSpan)
{
    Q_ASSERT(rowSpan == 1);
    cells_.append({widget, nullptr, row, column, columnSpan});
    arrange(narrow_);
}

void ReflowForm::addLayout(QLayout* layout, int row, int column, [[maybe_unused]] int rowSpan, int columnSpan)
{
    Q_ASSERT(rowSpan == 1);
    cells_.append({nullptr, layout, row, column, columnSpan});
    arrange(narrow_);
}

void ReflowForm::setRowStretch(int row, int stretch)
{
    stretches_.append({row, stretch});
    arrange(narrow_);
}

// A row's left pair keeps its row; its right pair (where the left has one)
// goes on the row below, in the same two columns.
ReflowForm::Place ReflowForm::narrowPlace(const Cell& cell, int firstRow, bool rightMoves) const
{
    if (cell.column < NarrowColumns)
        return {firstRow, cell.column, std::min(cell.span, NarrowColumns - cell.column)};
    return {
        firstRow + (rightMoves ? 1 : 0), cell.column - NarrowColumns, std::min(cell.span, WideColumns - cell.column)};
}

QList<ReflowForm::Place> ReflowForm::places(bool narrow) const
{
    QList<Place> result;
    if (!narrow) {
        for (const Cell& c : cells_)
            result.append({c.row, c.column, c.span});
        return result;
    }
    // Wide rows in order, each one or two narrow rows.
    QList<int> rows;
    for (const Cell& c : cells_)
        rows.append(c.row);
    std::sort(rows.begin(), rows.end());
    rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
    QHash<int, std::pair<int, bool>> start; // wide row: first narrow row, right pair moves
    int next = 0;
    for (int row : rows) {
        const auto inRow = [&](auto test) {
            return std::any_of(cells_.begin(), cells_.end(), [&](const Cell& c) { return c.row == row && test(c); });
        };
        const bool left = inRow([](const Cell& c) { return c.column < NarrowColumns; });
        const bool right = inRow([](const Cell& c) { return c.column >= NarrowColumns; });
        start.insert(row, {next, left && right});
        next += left && right ? 2 : 1;
    }
    for (const Cell& c : cells_)
        result.append(narrowPlace(c, start[c.row].first, start[c.row].second));
    return result;
}

// The width the cells ask for in one arrangement: each column as wide as
// its widest cell, a spanning cell widening its last column where needed.
int ReflowForm::widthFor(bool narrow, bool preferred) const
{
    const int columns = narrow ? NarrowColumns : WideColumns;
    const QList<Place> at = places(narrow);
    QList<int> widths(columns, 0);
    const auto wants = [&](const Cell& c) {
        if (c.widget) {
            if (c.widget->isHidden() && c.widget->testAttribute(Qt::WA_WState_ExplicitShowHide))
                return -1; // hidden on purpose, not only before the window shows
            const QSize hint = preferred ? c.widget->sizeHint() : c.widget->minimumSizeHint();
            return std::max(hint.width(), c.widget->minimumWidth());
        }
        return c.layout->isEmpty() ? -1 : (preferred ? c.layout->sizeHint() : c.layout->minimumSize()).width();
    };
    const int spacing = std::max(grid_->horizontalSpacing(), 0);
    for (int pass : {1, 2}) // single cells first, then the spanning ones
        for (qsizetype i = 0; i < cells_.size(); ++i) {
            const Place& p = at[i];
            if ((p.span == 1) != (pass == 1))
                continue;
            int have = spacing * (p.span - 1);
            for (int k = p.column; k < p.column + p.span - 1; ++k)
                have += widths[k];
            int& last = widths[p.column + p.span - 1];
            last = std::max(last, wants(cells_[i]) - have);
        }
    int total = spacing * (columns - 1);
    for (int w : widths)
        total += w;
    return total;
}

QSize ReflowForm::sizeHint() const
{
    return QSize(std::max(widthFor(false, true), grid_->sizeHint().width()), grid_->sizeHint().height());
}

QSize ReflowForm::minimumSizeHint() const
{
    return QSize(widthFor(true, false), grid_->minimumSize().height());
}

bool ReflowForm::event(QEvent* event)
{
    const bool handled = QWidget::event(event);
    // Whenever the width or what the fields ask for changes: wide only where
    // every column gets the width it asks for.
    if (event->type() == QEvent::Resize || event->type() == QEvent::LayoutRequest) {
        const bool narrow = width() < widthFor(false, true);
        if (narrow != narrow_)
            arrange(narrow);
    }
    return handled;
}

void ReflowForm::arrange(bool narrow)
{
    narrow_ = narrow;
    while (QLayoutItem* item = grid_->takeAt(0)) {
        if (QLayout* sub = item->layout())
            sub->setParent(nullptr);
        else
            delete item;
    }
    const int columns = narrow ? NarrowColumns : WideColumns;
    for (int c = 0; c < WideColumns; ++c)
        grid_->setColumnStretch(c, c < columns && c % 2 == 1 ? 1 : 0); // the fields take the width
    for (int r = 0; r < grid_->rowCount(); ++r)
        grid_->setRowStretch(r, 0);
    const QList<Place> at = places(narrow);
    for (qsizetype i = 0; i < cells_.size(); ++i) {
        const Cell& c = cells_[i];
        const Place& p = at[i];
        if (c.widget)
            grid_->addWidget(c.widget, p.row, p.column, 1, p.span);
        else
            grid_->addLayout(c.layout, p.row, p.column, 1, p.span);
    }
    for (const auto& [row, stretch] : stretches_)
        for (qsizetype i = 0; i < cells_.size(); ++i)
            if (cells_[i].row == row)
                grid_->setRowStretch(at[i].row, stretch);
    updateGeometry();
}

} // namespace og
