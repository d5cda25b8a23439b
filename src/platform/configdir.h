#pragma once

#include <QString>

// The program's config folder: $XDG_CONFIG_HOME/vantrel, or ~/.config/vantrel when
// XDG_CONFIG_HOME is unset, empty or not an absolute path. Created when missing (a failure to
// create it is not an error here: whoever writes into it finds out).
QString vantrelConfigDir();

// The settings file inside the config folder.
QString vantrelSettingsPath(const QString &configDir);
