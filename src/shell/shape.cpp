#include "shape.h"

#include "twips.h"

#include <QPainter>

Shape::Shape(const QColor &fill, QWidget *parent) : QWidget(parent), m_fill(fill)
{
    setAttribute(Qt::WA_TransparentForMouseEvents);
}

void Shape::setGeometryTwips(int left, int top, int width, int height)
{
    m_left = left;
    m_top = top;
    m_height = height;
    setWidthTwips(width);
}

void Shape::setWidthTwips(double width)
{
    m_width = width;
    setGeometry(px(m_left), px(m_top), px(width), px(m_height));
    setVisible(px(width) > 0);
}

void Shape::paintEvent(QPaintEvent *)
{
    QPainter(this).fillRect(rect(), m_fill);
}
