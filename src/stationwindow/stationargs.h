#pragma once

#include "portname.h"

#include <QList>
#include <QString>
#include <QStringList>

// vantrel-station's command line: [IMAGE] [--port PORT ...|--all] [--report FILE.csv], read as
// GNU programs read theirs ("--port=COM1", "-p COM1", "-pCOM1", "--" ends the options). PORT
// is what vantrel-cli takes: COMn, a range COMa-COMb, several separated by commas, or a device.
struct StationArgs {
    QString image;           // "" to open empty
    QList<PortTarget> ports; // empty: every port
    QString reportPath;
    bool help = false, version = false;
    QString error; // what is wrong with the command line; "" when it was read
};

// Reads the arguments after the program's name.
StationArgs readStationArgs(const QStringList &arguments);

QString stationHelpText();
QString stationVersionText();
