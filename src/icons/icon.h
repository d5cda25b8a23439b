#pragma once

#include <QIcon>
#include <QImage>

// The application icon: a green chip with a downward arrow, drawn at any size. The window uses
// the 240 x 240 24-bit image; the desktop entry's icons are made from it.
QImage vantrelIconImage(int size = 240);
QIcon vantrelIcon();

// The bench station's icon: the same backdrop with four smaller chips, two taking the green
// arrow, one with a green tick and one with a red cross.
QImage vantrelStationIconImage(int size = 240);
QIcon vantrelStationIcon();
