#pragma once
// Colours that read on their background: WCAG's contrast ratio and the
// colour nearest a wanted one that reaches the 4.5:1 normal text needs.

#include <QColor>

namespace og {

// WCAG's relative luminance and contrast ratio (1 to 21).
double luminance(const QColor& colour);
double contrast(const QColor& a, const QColor& b);

// colour itself where it reads on background; else colour mixed towards
// white, or towards black, in tenths, until it does.
QColor readableOn(const QColor& colour, const QColor& background);

} // namespace og
