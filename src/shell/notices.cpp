#include "notices.h"

#include "portname.h"
#include "portprobe.h"

namespace Notices
{

const QString title = QStringLiteral("提示信息!");

QString busyPort(int com)
{
    return comName(com) + QStringLiteral("已被其它程序打开，请选择其它串口！");
}

QString noPermission(int com, const QString &device)
{
    const QString where = device.isEmpty() ? QString() : QStringLiteral("（%1）").arg(device);
    return comName(com) + where +
           QStringLiteral("无法打开：当前用户没有使用该串口的权限。\n请把当前用户加入 dialout "
                          "组（%1），注销并重新登录后再试。")
               .arg(joinGroupCommand(QStringLiteral("dialout")));
}

} // namespace Notices
