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

struct ParseResult {
    CliArgs args;
    QString error; // names the bad argument; empty when the command line is good
};

// Reads argv (without the program name). GNU style: long options, "--name=value" or
// "--name value", short options -p -b -q -h, "--" ends the options.
ParseResult parseCommandLine(const QStringList &arguments);
