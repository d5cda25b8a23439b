#include "sockettile.h"

SocketTile::SocketTile(QWidget *parent) : QFrame(parent) {}

void SocketTile::showSocket(const Socket &socket)
{
    (void)socket;
}
