#include "configdir.h"

#include <QDir>
#include <QFileInfo>

QString vantrelConfigDir()
{
    QString base = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (base.isEmpty() || !QFileInfo(base).isAbsolute())
        base = QDir::homePath() + QStringLiteral("/.config");
    const QString dir = QDir::cleanPath(base + QStringLiteral("/vantrel"));
    QDir().mkpath(dir);
    return dir;
}

QString vantrelSettingsPath(const QString &configDir)
{
    return configDir + QStringLiteral("/VANTREL_SET.SB");
}
