#pragma once

#include <QtMath>

// Sizes and positions are kept in twips, as the window was designed; they become pixels only
// when a widget is placed: 15 twips to the pixel at 96 dots per inch.
constexpr int twipsPerPixel = 15;

inline int px(double twips)
{
    return qRound(twips / twipsPerPixel);
}
