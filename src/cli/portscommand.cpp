#include "portscommand.h"

#include "configdir.h"
#include "endings.h"
#include "portmap.h"
#include "portname.h"
#include "portprobe.h"
#include "reporter.h"

#include <cstdio>

namespace
{

// "[a,b,c]" from the items, each made by `json`.
template <typename T, typename Json> QByteArray jsonArray(const QList<T> &items, Json json)
{
    QByteArray out = "[";
    for (int i = 0; i < items.size(); ++i)
        out += (i ? "," : "") + json(items[i]);
    return out + ']';
}

QByteArray holderJson(const Holder &h)
{
    return JsonLine().add("pid", h.pid).add("name", h.name).finish();
}

QString holderText(const QList<Holder> &holders)
{
    QStringList parts;
    for (const Holder &h : holders)
        parts << QStringLiteral("pid %1 %2").arg(h.pid).arg(h.name);
    return parts.join(QStringLiteral(", "));
}

QByteArray portJson(const PortInfo &p)
{
    JsonLine o;
    o.add("port", p.port).add("device", p.device);
    p.byId.isEmpty() ? o.addNull("by_id") : o.add("by_id", p.byId);
    if (p.usbVendor.isEmpty())
        o.addNull("usb");
    else
        o.addRaw("usb", JsonLine()
                            .add("vendor", p.usbVendor)
                            .add("product", p.usbProduct)
                            .add("serial", p.usbSerial)
                            .finish());
    o.add("state", stateName(p.state).replace(u' ', u'_'));
    o.addRaw("holders", jsonArray(p.holders, holderJson));
    return o.finish();
}

QByteArray findingJson(const Finding &f)
{
    return JsonLine().add("id", f.id).add("problem", f.problem).add("fix", f.fix).finish();
}

QByteArray portsJson(const PortMap &map, const QList<PortInfo> &ports,
                     const QList<Finding> &findings)
{
    return JsonLine()
               .add("ports_folder", map.usesLinks() ? map.linksDir() : QString())
               .addRaw("ports", jsonArray(ports, portJson))
               .addRaw("findings", jsonArray(findings, findingJson))
               .finish() +
           '\n';
}

// "COM3   /dev/ttyUSB0  free  USB 0403:6001 serial A50285BI  by-id usb-FTDI..."
QString portLine(const PortInfo &p)
{
    QString state = stateName(p.state);
    if (!p.holders.isEmpty())
        state += QStringLiteral(" (") + holderText(p.holders) + u')';
    QString usb;
    if (!p.usbVendor.isEmpty())
        usb = QStringLiteral("  USB %1:%2").arg(p.usbVendor, p.usbProduct) +
              (p.usbSerial.isEmpty() ? QString() : QStringLiteral(" serial ") + p.usbSerial);
    QString device = p.device.isEmpty() ? QStringLiteral("-") : p.device;
    if (!p.brokenLink.isEmpty())
        device = QStringLiteral("- (its link leads to %1, which does not exist)").arg(p.brokenLink);
    return QStringLiteral("%1  %2  %3%4%5")
        .arg(p.port.leftJustified(5), device, state, usb,
             p.byId.isEmpty() ? QString() : QStringLiteral("  by-id ") + p.byId);
}

QByteArray portsText(const PortMap &map, const QList<PortInfo> &ports,
                     const QList<Finding> &findings)
{
    QString text;
    if (ports.isEmpty())
        text += map.usesLinks() ? QStringLiteral("No ports: %1.\n").arg(map.whyNoDevice(firstCom))
                                : QStringLiteral("No serial ports found.\n");
    // Device, link, holder and USB names come from outside: shown, never obeyed.
    for (const PortInfo &p : ports)
        text += shownName(portLine(p)) + u'\n';
    if (!findings.isEmpty()) {
        text += QStringLiteral("\nFindings:\n");
        for (const Finding &f : findings)
            text += QStringLiteral("- ") + shownName(f.problem) + QStringLiteral("\n  fix: ") +
                    shownName(f.fix) + u'\n';
    }
    return text.toUtf8();
}

} // namespace

int runPorts(bool json)
{
    const PortMap map(vantrelConfigDir());
    const QList<PortInfo> ports = scanPorts(map);
    const QList<Finding> findings = diagnose(ports);
    const QByteArray out = json ? portsJson(map, ports, findings) : portsText(map, ports, findings);
    std::fwrite(out.constData(), 1, size_t(out.size()), stdout);
    std::fflush(stdout);
    return exitCodeOf(Ending::Success);
}
