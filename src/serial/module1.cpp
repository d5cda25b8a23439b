#include "module1.h"

#include "dialogs.h"
#include "eventpump.h"
#include "hexsequence.h"
#include "portname.h"
#include "serialcomponent.h"

namespace Module1
{

const QString noticeTitle = QStringLiteral("提示信息!");

QString busyPortMessage(int port)
{
    return QStringLiteral("COM") + QString::number(port) +
           QStringLiteral("已被其它程序打开，请选择其它串口！");
}

QString permissionMessage(int port, const QString &device)
{
    const QString where = device.isEmpty() ? QString() : QStringLiteral("（%1）").arg(device);
    return QStringLiteral("COM%1%2无法打开：当前用户没有使用该串口的权限。\n"
                          "请把当前用户加入 dialout 组（sudo usermod -aG dialout $USER），"
                          "注销并重新登录后再试。")
        .arg(port)
        .arg(where);
}

void SCAN_COM(SerialComponent &MSComm, PortList &ComboComm)
{
    ComboComm.clear();
    int count = 0;
    for (int n = 1; n <= 16; ++n) {
        bool listed = false;
        try {
            MSComm.setCommPort(n);
            MSComm.setPortOpen(true);
            if (MSComm.PortOpen()) {
                MSComm.setPortOpen(false);
                listed = true;
            }
        } catch (const CommError &e) {
            // A port that exists but is held by another program is listed too, and so is one
            // this user may not open: choosing it then explains why it cannot be used.
            listed = e.number() == CommErrorNumber::PortInUse ||
                     e.number() == CommErrorNumber::PermissionDenied;
            try {
                MSComm.setPortOpen(false);
            } catch (const CommError &) {
            }
        }
        if (listed) {
            ComboComm.insertItem(count, QStringLiteral("COM") + QString::number(n),
                                 MSComm.deviceFor(n));
            ++count;
        }
    }
    if (ComboComm.count() > 0)
        ComboComm.setCurrentIndex(0);
}

PortOpening openPortNumber(SerialComponent &MSComm, int port, const QString &baudText,
                           const QString &dataBits, const QString &stopBits)
{
    try {
        MSComm.setCommPort(port);
        MSComm.setSettings(baudText + QStringLiteral(",n,") + dataBits + QLatin1Char(',') +
                           stopBits);
        MSComm.setInputMode(1);
        MSComm.setInBufferCount(0);
        MSComm.setRThreshold(5);
        MSComm.setInputLen(5);
        if (MSComm.PortOpen())
            return {-1, QString()};
        MSComm.setPortOpen(true);
        return {};
    } catch (const CommError &e) {
        return {e.number(), QString::fromStdString(e.what())};
    }
}

bool OPEN_COM(SerialComponent &MSComm, const QString &portText, const QString &baudText,
              const QString &dataBits, const QString &stopBits, Dialogs &dialogs, QWidget *parent)
{
    const auto port = portNumberFromText(portText);
    if (!port)
        return false; // does not fit a port number at all
    const PortOpening opening = openPortNumber(MSComm, *port, baudText, dataBits, stopBits);
    if (opening.error == CommErrorNumber::PortInUse)
        dialogs.information(parent, noticeTitle, busyPortMessage(MSComm.CommPort()));
    else if (opening.error == CommErrorNumber::PermissionDenied)
        dialogs.information(
            parent, noticeTitle,
            permissionMessage(MSComm.CommPort(), MSComm.deviceFor(MSComm.CommPort())));
    return opening.opened();
}

void CLOSE_COM(SerialComponent &MSComm)
{
    if (MSComm.PortOpen())
        MSComm.setPortOpen(false);
}

void SEND_HEX(SerialComponent &MSComm, const QString &hex, EventPump &pump)
{
    if (!MSComm.PortOpen())
        return;
    if (hex.isEmpty())
        return;
    const QByteArray bytes = hexSequenceBytes(hex); // a malformed pair goes to the caller
    try {
        MSComm.setOutput(bytes);
        MSComm.setInBufferCount(0);
    } catch (const CommError &) {
        return;
    }
    pump.processEvents();
}

} // namespace Module1
