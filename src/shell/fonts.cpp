#include "fonts.h"

#include <QStringList>

void installFontSubstitutions()
{
    const QStringList song{QStringLiteral("AR PL UMing CN"), QStringLiteral("Noto Serif CJK SC"),
                           QStringLiteral("Noto Sans CJK SC")};
    QFont::insertSubstitutions(QStringLiteral("宋体"),
                               QStringList{QStringLiteral("SimSun")} + song);
    QFont::insertSubstitutions(QStringLiteral("SimSun"), song);
}

QFont songFont(double pointSize, bool bold)
{
    QFont font(QStringLiteral("宋体"));
    font.setPointSizeF(pointSize);
    font.setBold(bold);
    return font;
}

QFont previewFont()
{
    // AR PL UMing CN at 10.5 pt draws Latin at 7 px and CJK at 14 px; Noto Sans Mono CJK SC
    // keeps the same 1:2 ratio. WenQuanYi Micro Hei Mono and DejaVu Sans Mono do not.
    QFont font;
    font.setFamilies({QStringLiteral("AR PL UMing CN"), QStringLiteral("Noto Sans Mono CJK SC")});
    font.setPointSizeF(10.5);
    font.setStyleHint(QFont::TypeWriter);
    return font;
}
