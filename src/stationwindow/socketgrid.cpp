#include "socketgrid.h"

#include "sockettile.h"

SocketGrid::SocketGrid(QWidget *parent) : QWidget(parent) {}

void SocketGrid::showSockets(const QList<Socket> &sockets)
{
    (void)sockets;
}
