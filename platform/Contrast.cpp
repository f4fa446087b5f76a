#include "platform/Contrast.h"

#include <algorithm>
#include <cmath>

namespace og {

double luminance(const QColor& colour)
{
    const auto channel = [](double c) { return c <= 0.03928 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4); };
    return 0.2126 * channel(colour.redF()) + 0.7152 * channel(colour.greenF()) + 0.0722 * channel(colour.blueF());
}

double contrast(const QColor& a, const QColor& b)
{
    const auto [dark, light] = std::minmax({luminance(a), luminance(b)});
    return (light + 0.05) / (dark + 0.05);
}

QColor readableOn(const QColor& colour, const QColor& background)
{
    for (const QColor& toward : {QColor(Qt::white), QColor(Qt::black)}) {
        for (int step = 0; step <= 10; ++step) {
            const double t = step / 10.0;
            const QColor mixed = QColor::fromRgbF(colour.redF() + (toward.redF() - colour.redF()) * t,
                colour.greenF() + (toward.greenF() - colour.greenF()) * t,
                colour.blueF() + (toward.blueF() - colour.blueF()) * t);
            if (contrast(mixed, background) >= 4.5)
                return mixed;
        }
    }
    return colour;
}

} // namespace og
