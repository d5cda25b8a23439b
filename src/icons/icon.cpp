#include "icon.h"

#include <QPainter>
#include <QPainterPath>

#include <array>

namespace
{

const QColor canvasWhite(0xFF, 0xFF, 0xFF);
const QColor backdropBlue(0x1F, 0x4E, 0x79);
const QColor pinGrey(0xC8, 0xC8, 0xC8);
const QColor chipBlack(0x22, 0x22, 0x22);
const QColor arrowGreen(0x00, 0xFF, 0x00);
const QColor trackOrange(0xFF, 0xC0, 0x80);
const QColor failedRed(0xFF, 0x00, 0x00);

// Both icons are drawn on a 240 x 240 grid, whatever the image's size.
constexpr double grid = 240;

// Fills the image white, starts the painter on it scaled to the grid and paints the blue rounded
// backdrop.
void paintBackdrop(QImage &image, QPainter &p)
{
    image.fill(canvasWhite);
    p.begin(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(image.width() / grid, image.height() / grid);
    p.setPen(Qt::NoPen);
    p.setBrush(backdropBlue);
    p.drawRoundedRect(QRectF(8, 8, 224, 224), 36, 36);
}

// The chip's body, 60..180 on the grid.
void paintChip(QPainter &p)
{
    p.setBrush(chipBlack);
    p.drawRoundedRect(QRectF(60, 60, 120, 120), 10, 10);
}

// The progress-bar green arrow going into the chip, and the orange track under it.
void paintDownload(QPainter &p)
{
    QPainterPath arrow;
    arrow.moveTo(104, 72);
    arrow.lineTo(136, 72);
    arrow.lineTo(136, 118);
    arrow.lineTo(158, 118);
    arrow.lineTo(120, 162);
    arrow.lineTo(82, 118);
    arrow.lineTo(104, 118);
    arrow.closeSubpath();
    p.setBrush(arrowGreen);
    p.drawPath(arrow);

    p.setBrush(trackOrange);
    p.drawRect(QRectF(82, 166, 76, 8));
}

// A board's outcome on its chip: a green tick when downloaded, a red cross when it failed.
void paintOutcome(QPainter &p, bool downloaded)
{
    QPainterPath mark;
    if (downloaded) {
        mark.moveTo(82, 122);
        mark.lineTo(108, 148);
        mark.lineTo(158, 94);
    } else {
        mark.moveTo(86, 86);
        mark.lineTo(154, 154);
        mark.moveTo(154, 86);
        mark.lineTo(86, 154);
    }
    p.setBrush(Qt::NoBrush);
    p.setPen(
        QPen(downloaded ? arrowGreen : failedRed, 20, Qt::SolidLine, Qt::FlatCap, Qt::MiterJoin));
    p.drawPath(mark);
    p.setPen(Qt::NoPen);
}

} // namespace

QImage vantrelIconImage(int size)
{
    QImage image(size, size, QImage::Format_RGB888);
    QPainter p;
    paintBackdrop(image, p);

    // The chip with its pins.
    p.setBrush(pinGrey);
    for (int i = 0; i < 5; ++i) {
        const double at = 70 + i * 22;
        p.drawRect(QRectF(at, 40, 10, 22));
        p.drawRect(QRectF(at, 178, 10, 22));
        p.drawRect(QRectF(40, at, 22, 10));
        p.drawRect(QRectF(178, at, 22, 10));
    }
    paintChip(p);
    paintDownload(p);
    p.end();
    return image;
}

QImage vantrelStationIconImage(int size)
{
    QImage image(size, size, QImage::Format_RGB888);
    QPainter p;
    paintBackdrop(image, p);

    // Four boards on the bench, each the chip at two thirds of its size (80 x 80): two
    // downloading, one downloaded, one failed.
    enum class Board { Downloading, Downloaded, Failed };
    struct Tile {
        double x, y;
        Board board;
    };
    constexpr std::array<Tile, 4> tiles{{{32, 32, Board::Downloading},
                                         {128, 32, Board::Downloaded},
                                         {32, 128, Board::Failed},
                                         {128, 128, Board::Downloading}}};
    for (const Tile &tile : tiles) {
        p.save();
        p.translate(tile.x, tile.y);
        p.scale(2.0 / 3, 2.0 / 3);
        p.translate(-60, -60);
        paintChip(p);
        if (tile.board == Board::Downloading)
            paintDownload(p);
        else
            paintOutcome(p, tile.board == Board::Downloaded);
        p.restore();
    }
    p.end();
    return image;
}

namespace
{

QIcon iconAtSizes(QImage (*draw)(int))
{
    QIcon icon;
    icon.addPixmap(QPixmap::fromImage(draw(240)));
    for (int size : {16, 32, 48, 64, 128})
        icon.addPixmap(QPixmap::fromImage(draw(size)));
    return icon;
}

} // namespace

QIcon vantrelIcon()
{
    return iconAtSizes(vantrelIconImage);
}

QIcon vantrelStationIcon()
{
    return iconAtSizes(vantrelStationIconImage);
}
