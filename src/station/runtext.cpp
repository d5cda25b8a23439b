#include "runtext.h"

QString shownName(const QString &name)
{
    QString out;
    out.reserve(name.size());
    for (const QChar c : name) {
        const char16_t u = c.unicode();
        if (u == u'\n')
            out += QStringLiteral("\\n");
        else if (u == u'\r')
            out += QStringLiteral("\\r");
        else if (u == u'\t')
            out += QStringLiteral("\\t");
        else if (u < 0x20 || (u >= 0x7f && u < 0xa0)) // C0, DEL and C1: ESC, CSI ...
            out += QStringLiteral("\\x%1").arg(uint(u), 2, 16, QLatin1Char('0'));
        else
            out += c;
    }
    return out;
}

QString percentBar(qint64 sent, qint64 bytes, int width)
{
    const int percent = bytes > 0 ? int(sent * 100 / bytes) : 0;
    const int filled = percent * width / 100;
    return QStringLiteral("%1% [%2%3]")
        .arg(percent, 3)
        .arg(QString(filled, u'#'), QString(width - filled, u'.'));
}

double rateKBps(qint64 sent, qint64 blocksStartMs, qint64 nowMs)
{
    const double seconds = blocksStartMs >= 0 ? double(nowMs - blocksStartMs) / 1000.0 : 0;
    return seconds > 0 ? double(sent) / 1024.0 / seconds : 0;
}

QString stepName(int step)
{
    switch (step) {
    case 1:
        return QStringLiteral("connect");
    case 2:
        return QStringLiteral("length");
    case 3:
        return QStringLiteral("blocks");
    case 4:
        return QStringLiteral("completion");
    default:
        return QStringLiteral("idle");
    }
}

QString counted(qint64 count, const QString &unit)
{
    return QString::number(count) + u' ' + unit + (count == 1 ? QString() : QStringLiteral("s"));
}

QString docFile(const QString &name)
{
    return QStringLiteral("/usr/share/doc/vantrel/") + name;
}
