#include "cliargs.h"

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
                                name == u"--trace";
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
            a.port = value;
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
        return fail(QStringLiteral("no command given (flash or ports)"));
    const QString command = positional.takeFirst();
    if (command == u"flash") {
        a.command = CliArgs::Command::Flash;
        if (positional.isEmpty())
            return fail(QStringLiteral("flash: no image file given"));
        if (positional.size() > 1)
            return fail(QStringLiteral("flash: unexpected argument '%1'").arg(positional[1]));
        a.image = positional[0];
        if (a.port.isEmpty())
            return fail(QStringLiteral("flash: no port given (--port COMn or a device)"));
    } else if (command == u"ports") {
        a.command = CliArgs::Command::Ports;
        if (!positional.isEmpty())
            return fail(QStringLiteral("ports: unexpected argument '%1'").arg(positional[0]));
        if (!a.port.isEmpty() || a.baud || a.resetBaud || a.autoReset || !a.tracePath.isEmpty())
            return fail(QStringLiteral("ports: only --json applies"));
    } else if (command == u"help") {
        a.command = CliArgs::Command::Help;
    } else {
        return fail(QStringLiteral("unknown command '%1'").arg(command));
    }
    return r;
}
