#pragma once
// Windows build their controls in code; each control takes the name the
// tests and the help find it by as it is made.

#include <QString>

namespace og {

template <typename T>
T* named(T* widget, const char* name)
{
    widget->setObjectName(QString::fromLatin1(name));
    return widget;
}

} // namespace og
