#pragma once

#include <QString>
#include <QStringList>

#include <optional>

// The command line, understood. Parsing never touches the system: the port is resolved and
// the settings file read later, when the run starts.
struct CliArgs {
    enum class Command { None, Help, Version, Flash, Ports };
    Command command = Command::None;

    // flash
    QString image;
    QString port;
    std::optional<qint32> baud;
    std::optional<qint32> resetBaud;
    std::optional<bool> autoReset;
    double connectTimeoutS = 30;
    double doneTimeoutS = 10;
    QString tracePath;
    bool quiet = false;

    // flash and ports
    bool json = false;
};

struct ParseResult {
    CliArgs args;
    QString error; // names the bad argument; empty when the command line is good
};

// Reads argv (without the program name). GNU style: long options, "--name=value" or
// "--name value", short options -p -b -q -h, "--" ends the options.
ParseResult parseCommandLine(const QStringList &arguments);
