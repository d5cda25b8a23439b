#include "imagefacts.h"

#include <QCryptographicHash>

QString kiloBytesText(qint64 length)
{
    // length / 1024 in tenths is length * 10 / 1024; rounding is done on the exact quotient in
    // integers, so halves are recognised exactly (1280 bytes are 12.5 tenths -> 12).
    const qint64 scaled = length * 10;
    qint64 tenths = scaled / 1024;
    const qint64 rest = scaled % 1024;
    if (rest * 2 > 1024 || (rest * 2 == 1024 && tenths % 2 != 0))
        ++tenths;
    QString text = QString::number(tenths / 10);
    if (tenths % 10 != 0)
        text += QLatin1Char('.') + QString::number(tenths % 10);
    return text + QStringLiteral("kB");
}

QString fileNameOf(const QString &path)
{
    return path.mid(path.lastIndexOf(QLatin1Char('/')) + 1);
}

QString sha256Hex(const QByteArray &image)
{
    return QString::fromLatin1(QCryptographicHash::hash(image, QCryptographicHash::Sha256).toHex());
}
