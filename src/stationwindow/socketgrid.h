#pragma once

#include "station.h"

#include <QWidget>

class SocketTile;

// The tiles of every watched port, in the station's order, in rows that fill the width.
class SocketGrid : public QWidget
{
    Q_OBJECT
public:
    explicit SocketGrid(QWidget *parent = nullptr);
    void showSockets(const QList<Socket> &sockets);
};
