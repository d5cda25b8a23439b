#include "cliargs.h"

#include <QRegularExpression>

#include <cmath>

namespace
{

std::optional<qint32> parseRate(const QString &text)
{
    bool ok = false;
    const qint64 v = text.toLongLong(&ok);
    if (!ok || text.isEmpty() || !text[0].isDigit() || v < 50 || v > 4'000'000)
        return std::nullopt;
    return qint32(v);
}

std::optional<double> parseSeconds(const QString &text)
{
    bool ok = false;
    const double v = text.toDouble(&ok);
    if (!ok || !std::isfinite(v) || v <= 0 || v > 86'400)
        return std::nullopt;
    return v;
}

// "0x08004000" or decimal, at most 64 bits.
std::optional<quint64> parseAddress(const QString &text)
{
    static const QRegularExpression form(
        QStringLiteral("^(?:0[xX][0-9a-fA-F]{1,16}|[0-9]{1,20})$"));
    bool ok = false;
    const quint64 v = form.match(text).hasMatch() ? text.toULongLong(&ok, 0) : 0;
    if (!ok || (text.size() > 1 && text[0] == u'0' && text[1].isDigit())) // no octal
        return std::nullopt;
    return v;
}

// "COM1-COM8" (any case; "COM1-8" too): the ports in between, both ends included.
std::optional<QStringList> parseRange(const QString &text)
{
    static const QRegularExpression range(
        QStringLiteral("^[Cc][Oo][Mm]([0-9]{1,3})-(?:[Cc][Oo][Mm])?([0-9]{1,3})$"));
    const auto m = range.match(text);
    if (!m.hasMatch())
        return std::nullopt;
    const int first = m.captured(1).toInt(), last = m.captured(2).toInt();
    if (first < 1 || last > 255 || first > last)
        return QStringList();
    QStringList ports;
    for (int n = first; n <= last; ++n)
        ports << QStringLiteral("COM%1").arg(n);
    return ports;
}

} // namespace

ParseResult parseCommandLine(const QStringList &arguments)
{
    ParseResult r;
    CliArgs &a = r.args;
    QStringList positional;
    bool optionsEnded = false;

    const auto fail = [&r](const QString &message) {
        r.error = message;
        return r;
    };

    for (int i = 0; i < arguments.size(); ++i) {
        QString arg = arguments[i];
        if (optionsEnded || arg == u"-" || !arg.startsWith(u'-')) {
            positional << arg;
            continue;
        }
        if (arg == u"--") {
            optionsEnded = true;
            continue;
        }
        QString name = arg;
        std::optional<QString> inlineValue;
        if (arg.startsWith(u"--")) {
            const int eq = arg.indexOf(u'=');
            if (eq > 0) {
                name = arg.left(eq);
                inlineValue = arg.mid(eq + 1);
            }
        } else if (arg.size() > 2) { // -pCOM3
            name = arg.left(2);
            inlineValue = arg.mid(2);
        }
        static const QStringList short_{"-p", "-b", "-q", "-h"};
        static const QStringList long_{"--port", "--baud", "--quiet", "--help"};
        if (const int s = short_.indexOf(name); s >= 0)
            name = long_[s];

        const bool takesValue = name == u"--port" || name == u"--baud" || name == u"--reset-baud" ||
                                name == u"--connect-timeout" || name == u"--done-timeout" ||
                                name == u"--trace" || name == u"--base" || name == u"--report";
        QString value;
        if (takesValue) {
            if (inlineValue) {
                value = *inlineValue;
            } else if (i + 1 < arguments.size()) {
                value = arguments[++i];
            } else {
                return fail(QStringLiteral("option '%1' needs a value").arg(name));
            }
        } else if (inlineValue) {
            return fail(QStringLiteral("option '%1' takes no value").arg(name));
        }

        if (name == u"--help") {
            a.command = CliArgs::Command::Help;
            return r; // help wins over anything else on the line
        } else if (name == u"--version") {
            a.command = CliArgs::Command::Version;
            return r;
        } else if (name == u"--port") {
            if (value.isEmpty())
                return fail(QStringLiteral("--port: the port is empty"));
            if (const auto range = parseRange(value)) {
                if (range->isEmpty())
                    return fail(
                        QStringLiteral("--port: '%1' is not a range of COM1 to COM255").arg(value));
                a.ports << *range;
                a.rangeGiven = true;
            } else {
                // "com3" and "COM3" are one port: the same board must not be flashed twice.
                static const QRegularExpression com(QStringLiteral("^[Cc][Oo][Mm][0-9]+$"));
                a.ports << (com.match(value).hasMatch() ? value.toUpper() : value);
            }
        } else if (name == u"--all") {
            a.allPorts = true;
        } else if (name == u"--base") {
            const auto address = parseAddress(value);
            if (!address)
                return fail(QStringLiteral("--base: '%1' is not an address (0x08004000 or "
                                           "decimal)")
                                .arg(value));
            a.base = address;
        } else if (name == u"--report") {
            if (value.isEmpty())
                return fail(QStringLiteral("--report: the file name is empty"));
            a.reportPath = value;
        } else if (name == u"--baud" || name == u"--reset-baud") {
            const auto rate = parseRate(value);
            if (!rate)
                return fail(
                    QStringLiteral("%1: '%2' is not a baud rate (50 to 4000000)").arg(name, value));
            (name == u"--baud" ? a.baud : a.resetBaud) = *rate;
        } else if (name == u"--connect-timeout" || name == u"--done-timeout") {
            const auto s = parseSeconds(value);
            if (!s)
                return fail(
                    QStringLiteral("%1: '%2' is not a number of seconds above 0").arg(name, value));
            (name == u"--connect-timeout" ? a.connectTimeoutS : a.doneTimeoutS) = *s;
        } else if (name == u"--trace") {
            if (value.isEmpty())
                return fail(QStringLiteral("--trace: the file name is empty"));
            a.tracePath = value;
        } else if (name == u"--auto-reset") {
            a.autoReset = true;
        } else if (name == u"--no-auto-reset") {
            a.autoReset = false;
        } else if (name == u"--json") {
            a.json = true;
        } else if (name == u"--quiet") {
            a.quiet = true;
        } else {
            return fail(QStringLiteral("unknown option '%1'").arg(name));
        }
    }

    if (positional.isEmpty())
        return fail(QStringLiteral("no command given (flash, station, convert or ports)"));
    const QString command = positional.takeFirst();
    const bool flash = command == u"flash", station = command == u"station";
    if (flash || station) {
        a.command = flash ? CliArgs::Command::Flash : CliArgs::Command::Station;
        if (positional.isEmpty())
            return fail(QStringLiteral("%1: no image file given").arg(command));
        a.image = positional.takeFirst();
        // Ranges may also follow the image: "station app.hex COM1-COM8".
        for (const QString &extra : std::as_const(positional)) {
            const auto range = parseRange(extra);
            if (!range || range->isEmpty())
                return fail(QStringLiteral("%1: unexpected argument '%2'").arg(command, extra));
            a.ports << *range;
            a.rangeGiven = true;
        }
        if (a.allPorts && !a.ports.isEmpty())
            return fail(QStringLiteral("%1: --all and --port exclude each other").arg(command));
        if (a.ports.isEmpty() && !a.allPorts)
            return fail(QStringLiteral("%1: no port given (--port COMn or a device)").arg(command));
        if (a.ports.removeDuplicates() > 0 && !a.rangeGiven)
            return fail(QStringLiteral("%1: a port is given twice").arg(command));
        if (flash && !a.reportPath.isEmpty())
            return fail(QStringLiteral("flash: --report applies to station only"));
    } else if (command == u"convert") {
        a.command = CliArgs::Command::Convert;
        if (positional.size() != 2)
            return fail(QStringLiteral("convert: give the firmware file and the .bin to write"));
        a.image = positional[0];
        a.output = positional[1];
        if (!a.ports.isEmpty() || a.allPorts || a.baud || a.resetBaud || a.autoReset ||
            !a.tracePath.isEmpty() || !a.reportPath.isEmpty())
            return fail(QStringLiteral("convert: only --base, --json and --quiet apply"));
    } else if (command == u"ports") {
        a.command = CliArgs::Command::Ports;
        if (!positional.isEmpty())
            return fail(QStringLiteral("ports: unexpected argument '%1'").arg(positional[0]));
        if (!a.ports.isEmpty() || a.allPorts || a.baud || a.resetBaud || a.autoReset ||
            !a.tracePath.isEmpty() || a.base || !a.reportPath.isEmpty())
            return fail(QStringLiteral("ports: only --json applies"));
    } else if (command == u"help") {
        a.command = CliArgs::Command::Help;
    } else {
        return fail(QStringLiteral("unknown command '%1'").arg(command));
    }
    return r;
}
