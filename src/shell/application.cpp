#include "application.h"

#include "fonts.h"

#include <QApplication>

void prepareApplication()
{
    QApplication::setApplicationName(QStringLiteral("vantrel"));
    QApplication::setDesktopFileName(QStringLiteral("vantrel")); // the desktop association
    installFontSubstitutions();
}
