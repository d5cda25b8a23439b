#include "portname.h"

#include <QFileInfo>
#include <QRegularExpression>

PortTarget resolvePort(const QString &text)
{
    static const QRegularExpression com(QStringLiteral("^[Cc][Oo][Mm]([0-9]{1,3})$"));
    if (const auto m = com.match(text); m.hasMatch()) {
        const int n = m.captured(1).toInt();
        if (n >= 1 && n <= 255)
            return {QStringLiteral("COM%1").arg(n), n, QString()};
    }
    if (!text.contains(u'/') && QFileInfo::exists(QStringLiteral("/dev/") + text))
        return {text, 0, QStringLiteral("/dev/") + text};
    return {text, 0, QFileInfo(text).absoluteFilePath()};
}
