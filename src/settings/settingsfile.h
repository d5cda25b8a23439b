#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

class QIODevice;

// The four remembered choices, as the window holds them: the selected download and reset
// rates (indexes into downloadRates() and resetRates()), the automatic reset and the preview.
struct StoredSettings {
    int downloadRateIndex = 0;
    int resetRateIndex = 0;
    bool autoReset = false;
    bool preview = false;

    // The choices of a first start, when there is no settings file.
    static StoredSettings defaults() { return {4, 3, false, false}; }
    bool operator==(const StoredSettings &) const = default;
};

// The settings file's values as read: each key's digit, before it is checked against what its
// control can take. A key the file does not set keeps the digit it held before the reading.
struct SettingsDigits {
    int downloadRateIndex = 0;
    int resetRateIndex = 0;
    int autoReset = 0;
    int preview = 0;

    bool operator==(const SettingsDigits &) const = default;
};

// The digits a settings file holds for `values`: an index as it is, a choice as 1 (on) or 0.
SettingsDigits settingsDigits(const StoredSettings &values);

// The rates the two lists offer, in list order: the stored indexes point into them.
const QStringList &downloadRates();
const QStringList &resetRates();

// The choices as the window applies them: an index or a check-box digit that its control
// cannot take is replaced by that choice's default.
StoredSettings applicableSettings(const SettingsDigits &digits);

// The file text: four CR LF lines, "XZBTL", "FWBTL", "RESET", "YULAN", each followed by its
// value in decimal.
QByteArray formatSettings(const StoredSettings &values);

// Reads settings text into `digits`. Every line (ended by CR LF, CR or LF) whose first five
// characters equal a key, with case, sets that key's digit to the line's last character when
// that is a decimal digit; any other line, and a keyed line ending in something else, changes
// nothing. A key that occurs twice takes its last value; a missing key keeps its digit as it
// was. Reads as a stream, so a huge or binary file costs no more memory than a small one.
void parseSettings(QIODevice &in, SettingsDigits &digits);
void parseSettings(const QByteArray &text, SettingsDigits &digits);

// Reads the settings file into `digits`. False, with `digits` untouched, when there is no
// regular file at `path` or it cannot be read: the caller treats that as a first start. Only
// the first settingsReadLimit bytes count (a line cut there is dropped): a huge file cannot
// delay the start.
constexpr qint64 settingsReadLimit = 64 * 1024;
bool readSettingsFile(const QString &path, SettingsDigits &digits);

// The choices the settings file at `path` gives, as the window applies them: a key the file does
// not set, or no file at all, gives that choice's default.
StoredSettings readStoredSettings(const QString &path);

// Replaces the settings file in one step (a temporary file in the same folder, then a rename),
// so a crash or a full disk never leaves a truncated file behind. False when it could not be
// written; the old file then stays as it was. Written only where the path, after its links,
// is a regular file or nothing yet: a settings file linked to /dev/null (or to a folder, a
// pipe, a device) is left alone and nothing is written.
bool writeSettingsFile(const QString &path, const StoredSettings &values);
