#pragma once

#include <QString>
#include <QStringList>

#include <optional>

// COM numbers as the window numbers its ports, written and read in one place.
//
// The window lists COM1 to COM16, and so does everything that stands for "every port" (the
// ports command, --all, the virtual board's links); COM1 to COM255 may be named on the command
// line.
inline constexpr int firstCom = 1;
inline constexpr int lastListedCom = 16;
inline constexpr int lastCom = 255;

// "COM3".
QString comName(int n);
// "com3": the name of COMn's link in the ports folder.
QString comLinkName(int n);
// The ports folder of a config folder: "<config>/ports".
QString portsFolder(const QString &configDir);
// COMn's link in a ports folder: "<ports>/com3".
QString comLinkPath(const QString &portsFolder, int n);

// The command line's strict readings.
//
// "COMn" in any case, n written with 1 to 3 digits and within COM1 to COM255: n.
std::optional<int> parseComName(const QString &text);
// "COMn" in any case, whatever its digits, spelled "COMn"; anything else unchanged. "com3" and
// "COM3" are one port: the same board must not be flashed twice.
QString upperComSpelling(const QString &text);

// "COM1-COM8" or "COM1-8" (any case, each end 1 to 3 digits).
struct ComRange {
    int first = 0;
    int last = 0;

    // Within COM1 to COM255, first not after last.
    bool valid() const { return first >= firstCom && last <= lastCom && first <= last; }
    // "COM1" .. "COM8", both ends included.
    QStringList names() const;
};
// Empty when the text is no range at all; a range outside COM1 to COM255 is read but not valid().
std::optional<ComRange> parseComRange(const QString &text);

// The ports of one --port value, appended to `ports`: a port, or several separated by commas
// ("COM1,COM3-COM5"; a path with a '/' is one port). A range is spelled out and sets
// *rangeGiven; a COM number is spelled as comName() writes it. The error names `option`; ""
// when the value was read.
QString readPortList(const QString &option, const QString &value, QStringList &ports,
                     bool *rangeGiven);

// Where --port points: COMn through the window's port map, or a device by its path.
struct PortTarget {
    QString name; // as reported: "COM3" or the path as given
    int com = 0;  // n for COMn; 0 for a path
    QString path; // the path to open when com is 0
};

// "COMn" (any case, n = 1..255) is a COM number; anything else is a device path. A bare name
// such as "ttyUSB0" means /dev/ttyUSB0 when that exists.
PortTarget resolvePort(const QString &text);

// The window's lenient reading of its port box.
//
// Reads the port number out of a port entry's text: the text after its first three characters
// ("COM12" gives 12), blanks ignored anywhere, an optional sign, digits, a decimal point and an
// exponent, stopping at the first character that cannot continue the number (no number gives 0);
// then rounded to the nearest whole number, halves to even. Empty when the result does not fit in
// 16 bits.
std::optional<qint16> portNumberFromText(const QString &text);

// The numeric reading alone, before rounding.
double leadingNumber(const QString &text);
