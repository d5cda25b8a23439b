// Writes the application icon as PNG files for the freedesktop hicolor theme:
//   vantrel-make-icons [--station] <output folder> <name> <size>...
// gives <output folder>/hicolor/<size>x<size>/apps/<name>.png for each size; --station draws
// the bench station's icon instead of the window's. Each file is drawn at its own size by the
// same code that draws the window icon. The canvas corners outside the rounded backdrop are
// made transparent, so the icon sits cleanly on dark panels as well.
#include "icon.h"

#include <QCoreApplication>
#include <QDir>
#include <QImage>
#include <QPainter>
#include <cstdio>

namespace
{

// The backdrop's rounded square as the drawing places it on its 240 x 240 canvas.
constexpr double backdropInset = 8, backdropSide = 224, backdropRadius = 36, canvas = 240;

// Coverage of the backdrop at each pixel, 0 outside to 255 inside, anti-aliased like the drawing.
QImage backdropMask(int size)
{
    QImage mask(size, size, QImage::Format_Alpha8);
    mask.fill(Qt::transparent);
    QPainter p(&mask);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(size / canvas, size / canvas);
    p.setPen(Qt::NoPen);
    p.setBrush(Qt::black);
    p.drawRoundedRect(QRectF(backdropInset, backdropInset, backdropSide, backdropSide),
                      backdropRadius, backdropRadius);
    return mask;
}

// The drawn icon with the white canvas around the backdrop taken out. Edge pixels drawn as a
// blend of backdrop and white get their white share removed, so no light fringe remains.
QImage desktopIcon(QImage (*draw)(int), int size)
{
    const QImage drawn = draw(size).convertToFormat(QImage::Format_RGB32);
    const QImage mask = backdropMask(size);
    QImage out(size, size, QImage::Format_ARGB32);
    for (int y = 0; y < size; ++y) {
        const QRgb *src = reinterpret_cast<const QRgb *>(drawn.constScanLine(y));
        const uchar *cover = mask.constScanLine(y);
        QRgb *dst = reinterpret_cast<QRgb *>(out.scanLine(y));
        for (int x = 0; x < size; ++x) {
            const int a = cover[x];
            if (a == 0) {
                dst[x] = qRgba(0, 0, 0, 0);
                continue;
            }
            // drawn = a * colour + (255 - a) * white, per channel, in 0..255 units.
            auto unblend = [a](int c) { return qBound(0, (c * 255 - (255 - a) * 255) / a, 255); };
            const QRgb c = src[x];
            dst[x] = qRgba(unblend(qRed(c)), unblend(qGreen(c)), unblend(qBlue(c)), a);
        }
    }
    return out;
}

} // namespace

int main(int argc, char *argv[])
{
    // Only images are drawn, on the raster engine: no display and no platform plugin needed.
    QCoreApplication app(argc, argv);
    QStringList args = app.arguments();
    const bool station = args.size() > 1 && args.at(1) == QLatin1String("--station");
    if (station)
        args.removeAt(1);
    if (args.size() < 4) {
        std::fprintf(stderr,
                     "usage: vantrel-make-icons [--station] <output folder> <name> <size>...\n");
        return 2;
    }
    QImage (*const draw)(int) = station ? vantrelStationIconImage : vantrelIconImage;
    const QString root = args.at(1);
    const QString name = args.at(2);
    for (qsizetype i = 3; i < args.size(); ++i) {
        bool ok = false;
        const int size = args.at(i).toInt(&ok);
        if (!ok || size < 1 || size > 1024) {
            std::fprintf(stderr, "vantrel-make-icons: bad size '%s'\n", qPrintable(args.at(i)));
            return 2;
        }
        const QString dir = QStringLiteral("%1/hicolor/%2x%2/apps").arg(root).arg(size);
        const QString file = QStringLiteral("%1/%2.png").arg(dir, name);
        if (!QDir().mkpath(dir) || !desktopIcon(draw, size).save(file, "PNG")) {
            std::fprintf(stderr, "vantrel-make-icons: cannot write %s\n", qPrintable(file));
            return 1;
        }
    }
    return 0;
}
