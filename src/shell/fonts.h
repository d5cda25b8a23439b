#pragma once

#include <QFont>

// No Debian font answers to "宋体" or "SimSun" by itself (Qt would quietly draw DejaVu), so the
// program maps both names to a Song-style CJK face.
void installFontSubstitutions();

// "宋体" at the given size.
QFont songFont(double pointSize = 10.5, bool bold = false);

// The fixed-pitch face of the hex preview: a CJK character is exactly two columns wide.
QFont previewFont();
