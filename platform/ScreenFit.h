#pragma once
// Windows open inside the screen's available area (a 1366x768 laptop screen
// at 150 % is 910x512 less its panels), title bar included, wherever their
// preferred size came from. What cannot shrink further scrolls: the form
// part of a window sits in a FormScrollArea, its buttons outside it.

#include <QGuiApplication>
#include <QScreen>
#include <QScrollArea>
#include <QStyle>
#include <QWidget>

namespace og {

inline void fitIntoScreen(QWidget* window)
{
    const QScreen* screen = window->screen() ? window->screen() : QGuiApplication::primaryScreen();
    if (!screen)
        return;
    const QRect area = screen->availableGeometry();
    // The frame (title bar, borders) is the window system's, outside size().
    // Before the window is first shown it is not known; a title bar is
    // allowed for then, so the title bar never ends up above the screen.
    const QRect inner = window->geometry(), outer = window->frameGeometry();
    QMargins frame(inner.left() - outer.left(), inner.top() - outer.top(), outer.right() - inner.right(),
        outer.bottom() - inner.bottom());
    if (frame.isNull())
        frame.setTop(window->style()->pixelMetric(QStyle::PM_TitleBarHeight));
    // Less two pixels: a scaling may round a logical position and a logical
    // size up by one each.
    const QSize room = area.size().shrunkBy(frame) - QSize(2, 2);
    // As large as its contents ask where there is room, so nothing scrolls
    // that need not.
    const QSize size =
        window->size().expandedTo(window->sizeHint()).boundedTo(room).expandedTo(window->minimumSizeHint());
    const QRect placed = QStyle::alignedRect(Qt::LeftToRight, Qt::AlignCenter, size.grownBy(frame), area);
    window->setGeometry(QRect(placed.topLeft() + QPoint(frame.left(), frame.top()), size));
}

// Holds a window's form: it asks for the form's whole size (so the window
// opens as large as the form where the screen has room) but can shrink to
// little, and then scrolls. Tabbing to a field scrolls it into view.
class FormScrollArea : public QScrollArea {
public:
    explicit FormScrollArea(QWidget* form, QWidget* parent = nullptr)
        : QScrollArea(parent)
    {
        setFrameShape(QFrame::NoFrame);
        setWidgetResizable(true);
        setWidget(form);
    }
    QSize sizeHint() const override
    {
        return widget()->sizeHint().expandedTo(widget()->minimumSizeHint()) + QSize(2, 2) * frameWidth();
    }
};

} // namespace og
