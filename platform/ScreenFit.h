#pragma once
// Windows open no larger than the screen's available area (a 1366x768
// laptop screen less its panels), wherever their preferred size came from.

#include <QGuiApplication>
#include <QScreen>
#include <QStyle>
#include <QWidget>

namespace og {

inline void fitIntoScreen(QWidget* window)
{
    const QScreen* screen = window->screen() ? window->screen() : QGuiApplication::primaryScreen();
    if (!screen)
        return;
    const QRect area = screen->availableGeometry();
    // the frame (title bar, borders) is the window system's, outside size()
    const QSize frame = window->frameGeometry().size() - window->geometry().size();
    const QSize size = window->size().boundedTo(area.size() - frame).expandedTo(window->minimumSizeHint());
    window->setGeometry(QStyle::alignedRect(Qt::LeftToRight, Qt::AlignCenter, size, area));
}

} // namespace og
