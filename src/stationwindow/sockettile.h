#pragma once

#include "station.h"

#include <QFrame>

// One watched port's tile: its name, its state in one word and a colour, the progress, and the
// port's own counts.
class SocketTile : public QFrame
{
    Q_OBJECT
public:
    explicit SocketTile(QWidget *parent = nullptr);
    void showSocket(const Socket &socket);
};
