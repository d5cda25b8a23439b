#include "portscommand.h"

#include "configdir.h"
#include "portmap.h"
#include "portprobe.h"
#include "reporter.h"

#include <cstdio>

namespace
{

QByteArray holderJson(const QList<Holder> &holders)
{
    QByteArray out = "[";
    for (int i = 0; i < holders.size(); ++i)
        out += (i ? "," : "") +
               JsonLine().add("pid", holders[i].pid).add("name", holders[i].name).finish();
    return out + ']';
}

QString holderText(const QList<Holder> &holders)
{
    QStringList parts;
    for (const Holder &h : holders)
        parts << QStringLiteral("pid %1 %2").arg(h.pid).arg(h.name);
    return parts.join(QStringLiteral(", "));
}

} // namespace

int runPorts(bool json)
{
    const PortMap map(vantrelConfigDir());
    const QList<PortInfo> ports = scanPorts(map);
    const QList<Finding> findings = diagnose(ports);

    QByteArray out;
    if (json) {
        QByteArray list = "[";
        for (int i = 0; i < ports.size(); ++i) {
            const PortInfo &p = ports[i];
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
            o.addRaw("holders", holderJson(p.holders));
            list += (i ? "," : "") + o.finish();
        }
        QByteArray found = "[";
        for (int i = 0; i < findings.size(); ++i)
            found += (i ? "," : "") + JsonLine()
                                          .add("id", findings[i].id)
                                          .add("problem", findings[i].problem)
                                          .add("fix", findings[i].fix)
                                          .finish();
        out = JsonLine()
                  .add("ports_folder", map.usesLinks() ? map.linksDir() : QString())
                  .addRaw("ports", list + ']')
                  .addRaw("findings", found + ']')
                  .finish() +
              '\n';
    } else {
        QString text;
        if (ports.isEmpty())
            text += map.usesLinks()
                        ? QStringLiteral("No ports: %1 has no comN links.\n").arg(map.linksDir())
                        : QStringLiteral("No serial ports found.\n");
        for (const PortInfo &p : ports) {
            QString state = stateName(p.state);
            if (!p.holders.isEmpty())
                state += QStringLiteral(" (") + holderText(p.holders) + u')';
            QString usb;
            if (!p.usbVendor.isEmpty())
                usb =
                    QStringLiteral("  USB %1:%2").arg(p.usbVendor, p.usbProduct) +
                    (p.usbSerial.isEmpty() ? QString() : QStringLiteral(" serial ") + p.usbSerial);
            text += QStringLiteral("%1  %2  %3%4%5\n")
                        .arg(p.port.leftJustified(5),
                             p.device.isEmpty() ? QStringLiteral("-") : p.device, state, usb,
                             p.byId.isEmpty() ? QString() : QStringLiteral("  by-id ") + p.byId);
        }
        if (!findings.isEmpty()) {
            text += QStringLiteral("\nFindings:\n");
            for (const Finding &f : findings)
                text +=
                    QStringLiteral("- ") + f.problem + QStringLiteral("\n  fix: ") + f.fix + u'\n';
        }
        out = text.toUtf8();
    }
    std::fwrite(out.constData(), 1, size_t(out.size()), stdout);
    std::fflush(stdout);
    return 0;
}
