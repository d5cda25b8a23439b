#include "portmap.h"

#include "portname.h"

#include <QDir>
#include <QFileInfo>
#include <QSerialPortInfo>

#include <algorithm>

namespace
{

QString baseName(const QString &path)
{
    return path.mid(path.lastIndexOf(QLatin1Char('/')) + 1);
}

// USB-serial and ACM adapters come before the board's own UARTs.
int group(const QString &path)
{
    const QString name = baseName(path);
    return name.startsWith(QLatin1String("ttyUSB")) || name.startsWith(QLatin1String("ttyACM")) ? 0
                                                                                                : 1;
}

// Compares names with runs of digits taken as numbers, so that ttyUSB2 < ttyUSB10.
int naturalCompare(const QString &a, const QString &b)
{
    qsizetype i = 0;
    qsizetype j = 0;
    while (i < a.size() && j < b.size()) {
        if (a[i].isDigit() && b[j].isDigit()) {
            qsizetype ei = i;
            qsizetype ej = j;
            while (ei < a.size() && a[ei].isDigit())
                ++ei;
            while (ej < b.size() && b[ej].isDigit())
                ++ej;
            // Compare the numbers without their leading zeros: longer means larger.
            qsizetype si = i;
            qsizetype sj = j;
            while (si + 1 < ei && a[si] == QLatin1Char('0'))
                ++si;
            while (sj + 1 < ej && b[sj] == QLatin1Char('0'))
                ++sj;
            if (ei - si != ej - sj)
                return ei - si < ej - sj ? -1 : 1;
            const int c = QStringView(a).mid(si, ei - si).compare(QStringView(b).mid(sj, ej - sj));
            if (c != 0)
                return c;
            i = ei;
            j = ej;
        } else {
            if (a[i] != b[j])
                return a[i] < b[j] ? -1 : 1;
            ++i;
            ++j;
        }
    }
    if (i < a.size() || j < b.size())
        return i < a.size() ? 1 : -1;
    return a.compare(b); // equal as numbers ("ttyS01" vs "ttyS1"): plain order decides
}

} // namespace

PortMap::PortMap(const QString &configDir, Lister systemPorts)
    : m_configDir(configDir), m_lister(std::move(systemPorts))
{
}

bool PortMap::usesLinks() const
{
    return QFileInfo(linksDir()).isDir();
}

QString PortMap::linksDir() const
{
    return portsFolder(m_configDir);
}

const QStringList &PortMap::systemPorts() const
{
    if (!m_listed) {
        m_system = orderSystemPorts(m_lister ? m_lister() : QStringList());
        m_listed = true;
    }
    return m_system;
}

QString PortMap::pathFor(int n) const
{
    if (n < firstCom)
        return QString();
    if (usesLinks()) {
        const QString link = comLinkPath(linksDir(), n);
        // exists() follows the link: a dangling link stands for no port.
        return QFileInfo::exists(link) ? link : QString();
    }
    const QStringList &ports = systemPorts();
    return n <= ports.size() ? ports.at(n - 1) : QString();
}

QString PortMap::whyNoDevice(int n) const
{
    if (!usesLinks() || !pathFor(n).isEmpty())
        return QString();
    const QString link = comLinkPath(linksDir(), n);
    if (QFileInfo(link).isSymLink())
        return QStringLiteral("its link %1 leads to %2, which does not exist")
            .arg(link, QFileInfo(link).symLinkTarget());
    const QString back = QStringLiteral("; removing the folder (vantrel-vboard leaves it behind) "
                                        "brings back the system's serial devices");
    const QStringList links =
        QDir(linksDir())
            .entryList(QStringList() << QStringLiteral("com*"),
                       QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot);
    if (links.isEmpty())
        return QStringLiteral("the ports folder %1 has no links at all").arg(linksDir()) + back;
    return QStringLiteral("the ports folder %1 has no link %2").arg(linksDir(), comLinkName(n)) +
           back;
}

QString PortMap::deviceFor(int n) const
{
    const QString path = pathFor(n);
    if (path.isEmpty() || !usesLinks())
        return path;
    return QFileInfo(path).canonicalFilePath();
}

QStringList PortMap::listSystemSerialPorts()
{
    QStringList out;
    const auto infos = QSerialPortInfo::availablePorts();
    for (const QSerialPortInfo &info : infos) {
        if (!info.systemLocation().isEmpty())
            out.append(info.systemLocation());
    }
    return out;
}

QStringList PortMap::orderSystemPorts(QStringList devices)
{
    std::stable_sort(devices.begin(), devices.end(), [](const QString &a, const QString &b) {
        const int ga = group(a);
        const int gb = group(b);
        if (ga != gb)
            return ga < gb;
        const int c = naturalCompare(baseName(a), baseName(b));
        return c != 0 ? c < 0 : naturalCompare(a, b) < 0;
    });
    devices.removeDuplicates();
    return devices;
}
