#pragma once

#include <QString>
#include <QStringList>

#include <optional>

// The command line, understood. Parsing never touches the system: the port is resolved and
// the settings file read later, when the run starts.
struct CliArgs {
    enum class Command { None, Help, Version, Flash, Ports, Convert, Station };
    Command command = Command::None;

    // flash, station and convert
    QString image;               // the firmware file: .bin, Intel HEX, S-record or ELF
    std::optional<quint64> base; // --base: the address the image must start at
    bool raw = false;            // --raw: the file byte for byte, whatever its name and content
    // flash and station
    QStringList ports;       // --port and COMa-COMb, as given, a range spelled out
    bool allPorts = false;   // --all: every port of the map
    bool rangeGiven = false; // a COMa-COMb range was among the ports
    std::optional<qint32> baud;
    std::optional<qint32> resetBaud;
    std::optional<bool> autoReset;
    double connectTimeoutS = 30;
    double doneTimeoutS = 10;
    QString tracePath;
    bool quiet = false;
    QString reportPath; // station: the CSV report

    // convert
    QString output;

    // flash, station, convert and ports
    bool json = false;

    // Several boards at once: the station's output, a summary and its own exit status.
    bool manyBoards() const
    {
        return command == Command::Station || allPorts || rangeGiven || ports.size() > 1;
    }
};

// The commands an option applies to: one bit for each, commandBit().
using CommandSet = unsigned;
constexpr CommandSet commandBit(CliArgs::Command command)
{
    return 1u << unsigned(command);
}

// One option of the command line. The parser, --help and the manual page are all made from the
// table of these, cliOptions().
struct CliOption {
    struct Help {
        CliArgs::Command command; // the command it is listed under; None: the general options
        QString text;             // may span several lines, joined by '\n'
    };
    // Reads the option's value ("" for an option that takes none) into the arguments. Returns
    // the error, "" when the value is good. `name` is the option's long name.
    using Store = QString (*)(CliArgs &args, const QString &name, const QString &value);

    QString name;         // "--port"
    QChar shortName;      // 'p'; null for none
    QString valueName;    // "PORT"; "" when it takes no value
    CommandSet appliesTo; // the commands that take it; the others refuse it
    Store store;
    QList<Help> help; // in the help of these commands, in the table's order
};

// One command: the word that names it, the rest of its usage line and what it does.
struct CliCommand {
    // How an option that the command does not take is refused: by naming the option and the
    // commands it applies to ("--report applies to station only"), or by listing the options
    // that apply here ("only --base, --json and --quiet apply").
    enum class Refusal { NameTheOption, ListWhatApplies };

    CliArgs::Command command;
    QString name;        // "flash"
    QString arguments;   // "IMAGE --port PORT [--port PORT ...] [options]"
    QString description; // may span several lines, joined by '\n'
    Refusal refusal;
};

// The command line's options, in the order the help lists them.
const QList<CliOption> &cliOptions();
// The commands, in the order the help lists them.
const QList<CliCommand> &cliCommands();

struct ParseResult {
    CliArgs args;
    QString error; // names the bad argument; empty when the command line is good
};

// Reads argv (without the program name). GNU style: long options, "--name=value" or
// "--name value", short options -p -b -q -h, "--" ends the options.
ParseResult parseCommandLine(const QStringList &arguments);
