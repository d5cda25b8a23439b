#include "socketgrid.h"

#include "sockettile.h"

#include <QGridLayout>
#include <QResizeEvent>

#include <cmath>

SocketGrid::SocketGrid(QWidget *parent) : QWidget(parent), m_grid(new QGridLayout(this))
{
    setAccessibleName(tr("插座"));
}

void SocketGrid::showSockets(const QList<Socket> &sockets)
{
    const bool newCount = sockets.size() != m_tiles.size();
    while (m_tiles.size() > sockets.size())
        delete m_tiles.takeLast();
    while (m_tiles.size() < sockets.size())
        m_tiles.append(new SocketTile(this));
    for (qsizetype i = 0; i < sockets.size(); ++i)
        m_tiles[i]->showSocket(sockets[i]);
    if (newCount)
        arrange();
}

QSize SocketGrid::minimumSizeHint() const
{
    const QSize least = m_grid->minimumSize();
    if (m_tiles.isEmpty())
        return least;
    const QMargins margins = m_grid->contentsMargins();
    const int oneColumn =
        m_tiles.first()->minimumSizeHint().width() + margins.left() + margins.right();
    return QSize(qMin(least.width(), oneColumn), least.height());
}

void SocketGrid::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    if (columnsFor(event->size().width()) != m_columns)
        arrange();
}

// As many columns as the width holds at the tiles' narrowest, at most 4 or the square's side.
int SocketGrid::columnsFor(int width) const
{
    const int count = int(m_tiles.size());
    if (count == 0)
        return 1;
    const int most = qMax(4, int(std::ceil(std::sqrt(double(count)))));
    const QMargins margins = m_grid->contentsMargins();
    const int spacing = qMax(0, m_grid->spacing());
    const int tileWidth = m_tiles.first()->minimumSizeHint().width() + spacing;
    const int fit = (width - margins.left() - margins.right() + spacing) / qMax(1, tileWidth);
    return qBound(1, qMin(fit, most), count);
}

void SocketGrid::arrange()
{
    m_columns = columnsFor(width());
    for (SocketTile *tile : std::as_const(m_tiles))
        m_grid->removeWidget(tile);
    for (int i = 0; i < m_tiles.size(); ++i)
        m_grid->addWidget(m_tiles[i], i / m_columns, i % m_columns);
    for (int c = 0; c < m_grid->columnCount(); ++c)
        m_grid->setColumnStretch(c, c < m_columns ? 1 : 0);
    // The tiles keep their height; the room left is below them.
    const int rows = int((m_tiles.size() + m_columns - 1) / m_columns);
    for (int r = 0; r <= qMax(rows, m_grid->rowCount() - 1); ++r)
        m_grid->setRowStretch(r, r == rows ? 1 : 0);
}
