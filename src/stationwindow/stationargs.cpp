#include "stationargs.h"

#include "boardruns.h"

namespace
{

struct Reading {
    StationArgs args;
    QStringList ports;
    bool all = false, rangeGiven = false, imageGiven = false;
};

// The option `name` that takes a value: stores it; an unknown name is an error.
QString storeValue(Reading &r, const QString &name, const QString &value)
{
    if (name == QLatin1String("--port"))
        return readPortList(name, value, r.ports, &r.rangeGiven);
    if (value.isEmpty())
        return QStringLiteral("--report: the file name is empty");
    r.args.reportPath = value;
    return QString();
}

// One argument at `i` (and the value after it, which it may take).
QString readOne(Reading &r, const QStringList &arguments, qsizetype &i)
{
    const QString &a = arguments[i];
    QString name = a.section(u'=', 0, 0);
    if (name == QLatin1String("--help") || name == QLatin1String("--version") ||
        name == QLatin1String("--all")) {
        if (a.contains(u'='))
            return QStringLiteral("option '%1' takes no value").arg(name);
        (name == QLatin1String("--help")      ? r.args.help
         : name == QLatin1String("--version") ? r.args.version
                                              : r.all) = true;
        return QString();
    }
    QString value;
    if (a.startsWith(QLatin1String("-p")) && a.size() > 2) {
        name = QStringLiteral("--port");
        value = a.mid(2);
    } else if (name == QLatin1String("-p") || name == QLatin1String("--port") ||
               name == QLatin1String("--report")) {
        if (name == QLatin1String("-p"))
            name = QStringLiteral("--port");
        if (a.contains(u'='))
            value = a.section(u'=', 1);
        else if (++i < arguments.size())
            value = arguments[i];
        else
            return QStringLiteral("option '%1' needs a value").arg(name);
    } else {
        return QStringLiteral("unknown option '%1'").arg(a);
    }
    return storeValue(r, name, value);
}

QString readImage(Reading &r, const QString &argument)
{
    if (r.imageGiven)
        return QStringLiteral("unexpected argument '%1': one image at most").arg(argument);
    r.imageGiven = true;
    r.args.image = argument;
    return QString();
}

QString readAll(Reading &r, const QStringList &arguments)
{
    bool options = true;
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QString &a = arguments[i];
        QString error;
        if (options && a == QLatin1String("--"))
            options = false;
        else if (options && a.startsWith(u'-') && a != QLatin1String("-"))
            error = readOne(r, arguments, i);
        else
            error = readImage(r, a);
        if (!error.isEmpty())
            return error;
    }
    if (r.imageGiven && r.args.image.isEmpty())
        return QStringLiteral("the image file name is empty");
    if (r.all && !r.ports.isEmpty())
        return QStringLiteral("--all and --port exclude each other");
    if (r.ports.removeDuplicates() > 0 && !r.rangeGiven)
        return QStringLiteral("--port: a port is given twice");
    for (const QString &port : std::as_const(r.ports))
        r.args.ports << resolvePort(port);
    return givenTwice(QStringLiteral("--port"), r.args.ports);
}

} // namespace

StationArgs readStationArgs(const QStringList &arguments)
{
    Reading r;
    r.args.error = readAll(r, arguments);
    return r.args;
}

QString stationHelpText()
{
    return QStringLiteral(
        "Usage: vantrel-station [IMAGE] [--port PORT ...|--all] [--report FILE.csv]\n"
        "       vantrel-station --help | --version\n\n"
        "vantrel-station: the bench window that flashes every board plugged into a watched\n"
        "port, a tile per port. Given IMAGE (.bin, Intel HEX, S-record, ELF) it starts at\n"
        "once; without, it opens empty and the image is loaded in the window.\n\n"
        "  -p, --port PORT     watch PORT only: COMn as the window numbers it, a device, a\n"
        "                      range COMa-COMb, or several as COM1,COM3 or --port again\n"
        "      --all           watch every port (without --port, the default)\n"
        "      --report FILE   append a CSV row for each board to FILE as it ends\n"
        "      --help          show this help and exit\n"
        "      --version       show the version and exit\n\n"
        "The rates and the automatic reset are the main window's, from its settings file.\n"
        "Exit status: 0, or 2 when the command line is wrong.\n");
}

QString stationVersionText()
{
    return QStringLiteral("vantrel-station (Vantrel) " VANTREL_VERSION "\n");
}
