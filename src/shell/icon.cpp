#include "icon.h"

#include <QPainter>
#include <QPainterPath>

QImage vantrelIconImage(int size)
{
    QImage image(size, size, QImage::Format_RGB888);
    image.fill(QColor(0xFF, 0xFF, 0xFF));
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(size / 240.0, size / 240.0);

    // Backdrop.
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0x1F, 0x4E, 0x79));
    p.drawRoundedRect(QRectF(8, 8, 224, 224), 36, 36);

    // The chip with its pins.
    p.setBrush(QColor(0xC8, 0xC8, 0xC8));
    for (int i = 0; i < 5; ++i) {
        const double at = 70 + i * 22;
        p.drawRect(QRectF(at, 40, 10, 22));
        p.drawRect(QRectF(at, 178, 10, 22));
        p.drawRect(QRectF(40, at, 22, 10));
        p.drawRect(QRectF(178, at, 22, 10));
    }
    p.setBrush(QColor(0x22, 0x22, 0x22));
    p.drawRoundedRect(QRectF(60, 60, 120, 120), 10, 10);

    // The progress-bar green arrow going into the chip.
    QPainterPath arrow;
    arrow.moveTo(104, 72);
    arrow.lineTo(136, 72);
    arrow.lineTo(136, 118);
    arrow.lineTo(158, 118);
    arrow.lineTo(120, 162);
    arrow.lineTo(82, 118);
    arrow.lineTo(104, 118);
    arrow.closeSubpath();
    p.setBrush(QColor(0x00, 0xFF, 0x00));
    p.drawPath(arrow);

    // The orange track under it.
    p.setBrush(QColor(0xFF, 0xC0, 0x80));
    p.drawRect(QRectF(82, 166, 76, 8));
    return image;
}

QIcon vantrelIcon()
{
    QIcon icon;
    icon.addPixmap(QPixmap::fromImage(vantrelIconImage(240)));
    for (int size : {16, 32, 48, 64, 128})
        icon.addPixmap(QPixmap::fromImage(vantrelIconImage(size)));
    return icon;
}
