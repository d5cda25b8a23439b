#pragma once

#include "station.h"

#include <QWidget>

class QGridLayout;
class SocketTile;

// The tiles of every watched port, in the station's order, in rows that fill the width: up to 4
// columns (more for many ports, as many as make a square), fewer when the width is narrow.
class SocketGrid : public QWidget
{
    Q_OBJECT
public:
    explicit SocketGrid(QWidget *parent = nullptr);
    // Shows each socket in its tile, adding tiles for sockets that came since.
    void showSockets(const QList<Socket> &sockets);
    int count() const { return int(m_tiles.size()); }
    SocketTile *tile(int index) const { return m_tiles.value(index); }
    int columns() const { return m_columns; }
    // One column wide, so that a narrower window takes fewer columns.
    QSize minimumSizeHint() const override;

protected:
    void resizeEvent(QResizeEvent *event) override;

private:
    int columnsFor(int width) const;
    void arrange();

    QGridLayout *m_grid;
    QList<SocketTile *> m_tiles;
    int m_columns = 0;
};
