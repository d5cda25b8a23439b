#pragma once

#include <QString>

// The window's notice boxes: their title and the texts about ports.
namespace Notices
{

// "提示信息!"
extern const QString title;
// COMn is held by another program.
QString busyPort(int com);
// This user may not open COMn (on `device`, when known): how to get access.
QString noPermission(int com, const QString &device);

} // namespace Notices
