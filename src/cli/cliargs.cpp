#include "cliargs.h"

#include "portname.h"

#include <QRegularExpression>

#include <cmath>

namespace
{

using Command = CliArgs::Command;

constexpr qint64 minBaud = 50;
constexpr qint64 maxBaud = 4'000'000;
constexpr double maxSeconds = 86'400;

std::optional<qint32> parseRate(const QString &text)
{
    bool ok = false;
    const qint64 v = text.toLongLong(&ok);
    if (!ok || text.isEmpty() || !text[0].isDigit() || v < minBaud || v > maxBaud)
        return std::nullopt;
    return qint32(v);
}

std::optional<double> parseSeconds(const QString &text)
{
    bool ok = false;
    const double v = text.toDouble(&ok);
    if (!ok || !std::isfinite(v) || v <= 0 || v > maxSeconds)
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

// The options' Store functions.

// A switch: sets a field to a value.
template <auto Field, auto Value> QString set(CliArgs &a, const QString &, const QString &)
{
    a.*Field = Value;
    return QString();
}

template <auto Field> QString storeRate(CliArgs &a, const QString &name, const QString &value)
{
    const auto rate = parseRate(value);
    if (!rate)
        return QStringLiteral("%1: '%2' is not a baud rate (%3 to %4)")
            .arg(name, value, QString::number(minBaud), QString::number(maxBaud));
    a.*Field = *rate;
    return QString();
}

template <auto Field> QString storeSeconds(CliArgs &a, const QString &name, const QString &value)
{
    const auto s = parseSeconds(value);
    if (!s)
        return QStringLiteral("%1: '%2' is not a number of seconds above 0").arg(name, value);
    a.*Field = *s;
    return QString();
}

template <auto Field> QString storeFileName(CliArgs &a, const QString &name, const QString &value)
{
    if (value.isEmpty())
        return QStringLiteral("%1: the file name is empty").arg(name);
    a.*Field = value;
    return QString();
}

QString storeBase(CliArgs &a, const QString &name, const QString &value)
{
    const auto address = parseAddress(value);
    if (!address)
        return QStringLiteral("%1: '%2' is not an address (0x08004000 or decimal)")
            .arg(name, value);
    a.base = address;
    return QString();
}

QString storePort(CliArgs &a, const QString &name, const QString &value)
{
    return readPortList(name, value, a.ports, &a.rangeGiven);
}

constexpr CommandSet flashing = commandBit(Command::Flash) | commandBit(Command::Station);
constexpr CommandSet converting = commandBit(Command::Convert);
constexpr CommandSet listing = commandBit(Command::Ports);
constexpr CommandSet everyCommand = flashing | converting | listing;

} // namespace

const QList<CliOption> &cliOptions()
{
    using S = QString;
    constexpr CommandSet none = 0;
    // --help and --version apply to no command: each is a request of its own, and ends the
    // reading of the line.
    // clang-format off
    static const QList<CliOption> table{
        // name, short name, value name, applies to, store; the help under each command
        {S("--port"), u'p', S("PORT"), flashing, storePort,
         {{Command::Flash, S("the board's port: COMn as the window numbers it, a device\n"
                             "(/dev/ttyUSB0), a stable link (/dev/serial/by-id/...) or a\n"
                             "range COMa-COMb; for several boards, COM1,COM3 or --port again")}}},
        {S("--all"), {}, {}, flashing, set<&CliArgs::allPorts, true>,
         {{Command::Flash, S("every port the window lists (%1 to %2) that stands for a\n"
                             "device").arg(comName(firstCom), comName(lastListedCom))}}},
        {S("--base"), {}, S("ADDR"), flashing | converting, storeBase,
         {{Command::Flash, S("the image must start at ADDR (0x08004000 or decimal): data\n"
                             "below it is refused, and a gap from ADDR to the lowest data\n"
                             "is sent as 0xFF")},
          {Command::Convert, S("as for flash: the image starts at ADDR")}}},
        {S("--raw"), {}, {}, flashing | converting, set<&CliArgs::raw, true>,
         {{Command::Flash, S("send IMAGE byte for byte, whatever its name and content")},
          {Command::Convert, S("as for flash: OUT.bin is IMAGE as it is")}}},
        {S("--baud"), u'b', S("N"), flashing, storeRate<&CliArgs::baud>,
         {{Command::Flash, S("the download baud rate (default: the window's choice)")}}},
        {S("--auto-reset"), {}, {}, flashing, set<&CliArgs::autoReset, true>,
         {{Command::Flash, S("send the reset request at the reset rate before connecting")}}},
        {S("--no-auto-reset"), {}, {}, flashing, set<&CliArgs::autoReset, false>,
         {{Command::Flash, S("connect without the reset request")}}},
        {S("--reset-baud"), {}, S("N"), flashing, storeRate<&CliArgs::resetBaud>,
         {{Command::Flash, S("the reset request's baud rate (default: the window's choice)")}}},
        {S("--connect-timeout"), {}, S("S"), flashing,
         storeSeconds<&CliArgs::connectTimeoutS>,
         {{Command::Flash, S("give up when the board has not answered the download request\n"
                             "within S seconds (default 30)")}}},
        {S("--done-timeout"), {}, S("S"), flashing,
         storeSeconds<&CliArgs::doneTimeoutS>,
         {{Command::Flash, S("give up when the completion reply has not come S seconds after\n"
                             "the last block (default 10)")}}},
        {S("--json"), {}, {}, everyCommand, set<&CliArgs::json, true>,
         {{Command::Flash, S("write the run's events to standard output as JSON Lines")},
          {Command::Convert, S("print the start address, span and SHA-256 as one JSON object")},
          {Command::Ports, S("write the list as one JSON object")}}},
        {S("--trace"), {}, S("FILE"), flashing, storeFileName<&CliArgs::tracePath>,
         {{Command::Flash, S("write every byte sent and received, each line-settings change\n"
                             "and each step to FILE, with microsecond times; FILE is a\n"
                             "regular file, or - for standard error (one board only); with\n"
                             "several boards, to FILE.PORT for each")}}},
        {S("--quiet"), u'q', {}, flashing | converting, set<&CliArgs::quiet, true>,
         {{Command::Flash, S("print nothing but errors")}}},
        {S("--report"), {}, S("FILE"), commandBit(Command::Station),
         storeFileName<&CliArgs::reportPath>,
         {{Command::Station, S("append a CSV row for each board to FILE as it ends: time, port,\n"
                               "device, by-id name, USB serial number, image SHA-256, bytes,\n"
                               "outcome, exit code, seconds")}}},
        {S("--help"), u'h', {}, none, set<&CliArgs::command, Command::Help>,
         {{Command::None, S("show this help and exit")}}},
        {S("--version"), {}, {}, none, set<&CliArgs::command, Command::Version>,
         {{Command::None, S("show the version and exit")}}},
    };
    // clang-format on
    return table;
}

const QList<CliCommand> &cliCommands()
{
    using Refusal = CliCommand::Refusal;
    static const QList<CliCommand> table{
        {Command::Flash, QStringLiteral("flash"),
         QStringLiteral("IMAGE --port PORT [--port PORT ...] [options]"),
         QStringLiteral(
             "Downloads IMAGE into the board on PORT, as the Vantrel window does: the same\n"
             "requests, length frame, 1024-byte blocks and time limits. IMAGE is a raw .bin\n"
             "file, taken byte for byte, or a firmware file by its extension: Intel HEX (.hex,\n"
             ".ihx), S-record (.s19, .s28, .s37, .srec, .mot) or ELF (.elf, .axf, .out),\n"
             "sent as the flat image from its lowest address to its highest, gaps filled with\n"
             "0xFF. A file whose content is one of these formats but whose name says another\n"
             "(HEX text named .bin, say) is refused: rename it, or give --raw to send it as it\n"
             "is. Rates and the automatic reset default to the window's settings.\n"
             "With several ports (--port more than once, a range COM1-COM8 or --all) every\n"
             "board is flashed at once, each on its own; the end is a table and a summary,\n"
             "and the exit status is 0 only when every board confirmed its download, else\n"
             "10."),
         Refusal::NameTheOption},
        {Command::Station, QStringLiteral("station"),
         QStringLiteral("IMAGE [--port PORT ...|--all|COMa-COMb] [options]"),
         QStringLiteral(
             "A flashing station: runs until Ctrl-C (SIGINT) and flashes each board once when\n"
             "it appears on one of the ports (every port, as --all, when none is given): an\n"
             "adapter plugged in, a /dev/serial/by-id link or a link in the ports folder\n"
             "created. A board that goes and comes back is flashed again. Boards present at\n"
             "the start are flashed at once. On a terminal it keeps a line for each port\n"
             "(waiting, flashing with its progress, passed, or failed with the reason; its\n"
             "counts) and a line of totals, redrawn in place; elsewhere, plain lines. At the\n"
             "end it prints the failed ports' reasons (on a terminal), the boards passed,\n"
             "failed and interrupted (cut short by Ctrl-C) and the boards per hour; the exit\n"
             "status is 10 when a board failed, else 0, and 11 when a row of the report could\n"
             "not be written. The options of flash apply too."),
         Refusal::NameTheOption},
        {Command::Convert, QStringLiteral("convert"),
         QStringLiteral("IMAGE OUT.bin|- [--base ADDR] [--raw] [--json]"),
         QStringLiteral(
             "Writes the flat image that flash would send for IMAGE to OUT.bin: whole or not\n"
             "at all, an existing OUT.bin replaced only when the new one is complete; - writes\n"
             "it to standard output (not to a terminal). OUT.bin must be a regular file or new.\n"
             "Exit status 0, 3 when IMAGE is refused, 1 when OUT.bin cannot be written, 2 when\n"
             "OUT.bin is not a regular file."),
         Refusal::ListWhatApplies},
        {Command::Ports, QStringLiteral("ports"), QStringLiteral("[--json]"),
         QStringLiteral("Lists %1 to %2 as the window sees them: device, stable name, USB\n"
                        "vendor:product and serial number, and whether the port is free, busy\n"
                        "or not permitted. Then lists what stands in the way of flashing on this\n"
                        "system, each finding with its fix.")
             .arg(comName(firstCom), comName(lastListedCom)),
         Refusal::ListWhatApplies},
    };
    return table;
}

namespace
{

// "a, b and c"; "a" alone.
QString spelledList(QStringList items, const QString &conjunction)
{
    const QString last = items.takeLast();
    return items.isEmpty() ? last
                           : items.join(QStringLiteral(", ")) + u' ' + conjunction + u' ' + last;
}

QStringList commandNames(CommandSet commands)
{
    QStringList names;
    for (const CliCommand &c : cliCommands())
        if (commands & commandBit(c.command))
            names << c.name;
    return names;
}

// The option named "--port" or "-p"; null for none.
const CliOption *findOption(const QString &name)
{
    for (const CliOption &o : cliOptions())
        if (name == o.name || (!o.shortName.isNull() && name.size() == 2 && name[0] == u'-' &&
                               name[1] == o.shortName))
            return &o;
    return nullptr;
}

// An option as written: "--name=value", "--name", "-xVALUE" or "-x".
struct Spelled {
    QString name;
    std::optional<QString> inlineValue;
};

Spelled spelled(const QString &arg)
{
    if (arg.startsWith(u"--")) {
        const qsizetype eq = arg.indexOf(u'=');
        if (eq > 0)
            return {arg.left(eq), arg.mid(eq + 1)};
    } else if (arg.size() > 2) { // -pCOM3
        return {arg.left(2), arg.mid(2)};
    }
    return {arg, std::nullopt};
}

// Reads the options into `a`, each one given into `given`, and the other arguments into
// `positional`. Returns the error, "" when every option is good. Stops at --help or --version.
QString readOptions(const QStringList &arguments, CliArgs &a, QStringList &positional,
                    QList<const CliOption *> &given)
{
    bool optionsEnded = false;
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QString &arg = arguments[i];
        if (optionsEnded || arg == u"-" || !arg.startsWith(u'-')) {
            positional << arg;
            continue;
        }
        if (arg == u"--") {
            optionsEnded = true;
            continue;
        }
        const Spelled s = spelled(arg);
        const CliOption *option = findOption(s.name);
        const QString name = option ? option->name : s.name;
        QString value;
        if (option && !option->valueName.isEmpty()) {
            if (s.inlineValue)
                value = *s.inlineValue;
            else if (i + 1 < arguments.size())
                value = arguments[++i];
            else
                return QStringLiteral("option '%1' needs a value").arg(name);
        } else if (s.inlineValue) {
            return QStringLiteral("option '%1' takes no value").arg(name);
        }
        if (!option)
            return QStringLiteral("unknown option '%1'").arg(name);
        if (const QString error = option->store(a, name, value); !error.isEmpty())
            return error;
        given << option;
        if (a.command != Command::None)
            return QString(); // --help or --version: nothing else on the line counts
    }
    return QString();
}

// The first option given that `command` does not take, told as the command tells it; "" when
// it takes them all.
QString refusal(const CliCommand &command, const QList<const CliOption *> &given)
{
    const CommandSet bit = commandBit(command.command);
    for (const CliOption *o : given) {
        if (o->appliesTo & bit)
            continue;
        if (command.refusal == CliCommand::Refusal::NameTheOption)
            return QStringLiteral("%1: %2 applies to %3 only")
                .arg(command.name, o->name,
                     spelledList(commandNames(o->appliesTo), QStringLiteral("and")));
        QStringList applying;
        for (const CliOption &a : cliOptions())
            if (a.appliesTo & bit)
                applying << a.name;
        return QStringLiteral("%1: only %2 %3")
            .arg(command.name, spelledList(applying, QStringLiteral("and")),
                 applying.size() == 1 ? QStringLiteral("applies") : QStringLiteral("apply"));
    }
    return QString();
}

// flash and station: the image, then perhaps ranges; the ports.
QString readFlashing(const QString &command, QStringList positional, CliArgs &a)
{
    if (positional.isEmpty())
        return QStringLiteral("%1: no image file given").arg(command);
    a.image = positional.takeFirst();
    // Ranges may also follow the image: "station app.hex COM1-COM8".
    for (const QString &extra : std::as_const(positional)) {
        const auto range = parseComRange(extra);
        if (!range || !range->valid())
            return QStringLiteral("%1: unexpected argument '%2'").arg(command, extra);
        a.ports << range->names();
        a.rangeGiven = true;
    }
    if (a.allPorts && !a.ports.isEmpty())
        return QStringLiteral("%1: --all and --port exclude each other").arg(command);
    if (a.ports.isEmpty() && a.command == Command::Station)
        a.allPorts = true; // a station without ports watches them all
    if (a.ports.isEmpty() && !a.allPorts)
        return QStringLiteral("%1: no port given (--port COMn or a device)").arg(command);
    if (a.ports.removeDuplicates() > 0 && !a.rangeGiven)
        return QStringLiteral("%1: a port is given twice").arg(command);
    return QString();
}

const CliCommand *findCommand(const QString &name)
{
    for (const CliCommand &c : cliCommands())
        if (name == c.name)
            return &c;
    return nullptr;
}

// The command and its arguments, after the options.
QString readCommand(QStringList positional, const QList<const CliOption *> &given, CliArgs &a)
{
    if (positional.isEmpty())
        return QStringLiteral("no command given (%1)")
            .arg(spelledList(commandNames(everyCommand), QStringLiteral("or")));
    const QString name = positional.takeFirst();
    if (name == u"help") { // takes anything
        a.command = Command::Help;
        return QString();
    }
    const CliCommand *command = findCommand(name);
    if (!command)
        return QStringLiteral("unknown command '%1'").arg(name);
    a.command = command->command;
    QString error;
    if (a.command == Command::Flash || a.command == Command::Station) {
        error = readFlashing(name, positional, a);
    } else if (a.command == Command::Convert) {
        if (positional.size() != 2)
            return QStringLiteral("%1: give the firmware file and the .bin to write").arg(name);
        a.image = positional[0];
        a.output = positional[1];
    } else if (!positional.isEmpty()) {
        return QStringLiteral("%1: unexpected argument '%2'").arg(name, positional[0]);
    }
    return error.isEmpty() ? refusal(*command, given) : error;
}

} // namespace

ParseResult parseCommandLine(const QStringList &arguments)
{
    ParseResult r;
    QStringList positional;
    QList<const CliOption *> given;
    r.error = readOptions(arguments, r.args, positional, given);
    if (r.error.isEmpty() && r.args.command == Command::None)
        r.error = readCommand(positional, given, r.args);
    return r;
}
