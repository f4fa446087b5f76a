#pragma once
// A form of four columns (label, field, label, field) that becomes one of
// two columns where its width is short: the right pair of each row moves
// under the left one, and fields that spanned several columns keep the
// field column. So a window on a small or scaled screen grows taller, which
// it may scroll, never wider than the screen.

#include <QList>
#include <QWidget>

class QGridLayout;
class QLayout;

namespace og {

class ReflowForm : public QWidget {
public:
    explicit ReflowForm(QWidget* parent = nullptr);

    // As QGridLayout's, in the four columns of the wide form; every cell is
    // one row high (rowSpan 1).
    void addWidget(QWidget* widget, int row, int column, int rowSpan = 1, int columnSpan = 1);
    void addLayout(QLayout* layout, int row, int column, int rowSpan = 1, int columnSpan = 1);
    void setRowStretch(int row, int stretch);

    bool isNarrow() const { return narrow_; }
    // As wide as the four columns ask; as narrow as the two can be.
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    bool event(QEvent* event) override;

private:
    struct Cell {
        QWidget* widget;
        QLayout* layout;
        int row, column, span;
    };
    struct Place {
        int row, column, span;
    };
    Place narrowPlace(const Cell& cell, int firstRow, bool rightMoves) const;
    QList<Place> places(bool narrow) const;
    int widthFor(bool narrow, bool preferred) const;
    void arrange(bool narrow);

    QGridLayout* grid_;
    QList<Cell> cells_;
    QList<std::pair<int, int>> stretches_;
    bool narrow_ = false;
};

} // namespace og
