#pragma once
// Windows open inside the screen's available area (a 1366x768 laptop screen
// at 150 % is 910x512 less its panels), title bar included, wherever their
// preferred size came from. What cannot shrink further scrolls: the form
// part of a window sits in a FormScrollArea, its buttons outside it.

#include <QCoreApplication>
#include <QEvent>
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
    // Many window systems know it once the window exists, before it is first
    // shown. Where it is not known yet, the style's own window frame stands
    // in for it, borders included: a frame guessed without its bottom border
    // puts the window's bottom edge past the screen.
    window->winId();
    const QRect inner = window->geometry(), outer = window->frameGeometry();
    QMargins frame(inner.left() - outer.left(), inner.top() - outer.top(), outer.right() - inner.right(),
        outer.bottom() - inner.bottom());
    if (frame.isNull()) {
        const int border = window->style()->pixelMetric(QStyle::PM_MdiSubWindowFrameWidth, nullptr, window);
        frame = QMargins(border, border, border, border);
        frame.setTop(border + window->style()->pixelMetric(QStyle::PM_TitleBarHeight, nullptr, window));
    }
    // A scaling may round a logical position and a logical size up by one
    // each; both move the right and bottom edges out, so the two pixels are
    // kept free there, not shared with the top and left by the centring.
    const QRect usable = area.adjusted(0, 0, -2, -2);
    const QSize room = usable.size().shrunkBy(frame);
    // As large as its contents ask where there is room, so nothing scrolls
    // that need not. A form that reflows at the width given asks again for
    // its height, so the window is sized twice.
    for (int pass = 0; pass < 2; ++pass) {
        const QSize size =
            window->size().expandedTo(window->sizeHint()).boundedTo(room).expandedTo(window->minimumSizeHint());
        const QRect placed = QStyle::alignedRect(Qt::LeftToRight, Qt::AlignCenter, size.grownBy(frame), usable);
        window->setGeometry(QRect(placed.topLeft() + QPoint(frame.left(), frame.top()), size));
        QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
    }
}

// Fits the window into the screen when it is first shown.
inline void fitWhenShown(QWidget* window)
{
    struct Fit : QObject {
        using QObject::QObject;
        bool eventFilter(QObject* watched, QEvent* event) override
        {
            if (event->type() == QEvent::Show) {
                // Once: a window shown again stays where it was left.
                watched->removeEventFilter(this);
                deleteLater();
                fitIntoScreen(static_cast<QWidget*>(watched));
            }
            return false;
        }
    };
    window->installEventFilter(new Fit(window));
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
        // A holder, no stop of its own: Tab goes to the fields inside.
        setFocusPolicy(Qt::NoFocus);
        setWidgetResizable(true);
        setWidget(form);
    }
    QSize sizeHint() const override
    {
        // Room for the bar that scrolls it up and down where the screen is
        // short, so that the form keeps the width it asks for.
        const int bar = style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, this);
        return widget()->sizeHint().expandedTo(widget()->minimumSizeHint()) + QSize(2, 2) * frameWidth() +
            QSize(bar, 0);
    }
    // Never sideways: as wide as the form can be, with room for the bar
    // that scrolls it up and down.
    QSize minimumSizeHint() const override
    {
        const int bar = style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, this);
        return QSize(
            widget()->minimumSizeHint().width() + bar + 2 * frameWidth(), QScrollArea::minimumSizeHint().height());
    }
};

} // namespace og
