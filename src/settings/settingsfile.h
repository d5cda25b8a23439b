#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

class QIODevice;

// The four remembered choices, as kept in the main window's fields.
struct StoredSettings {
    qint16 DOWN_BAUD_INDEX = 0;
    qint16 RESET_BAUD_INDEX = 0;
    qint16 AUTO_RESET = 0;
    qint16 PREVIEW_BIN = 0;

    static StoredSettings defaults() { return {4, 3, 0, 0}; }
    bool operator==(const StoredSettings &) const = default;
};

// The rates the two lists offer, in list order: the stored indexes point into them.
const QStringList &downloadRates();
const QStringList &resetRates();

// The values as the window applies them: an index or a check-box value that its control cannot
// take is replaced by that value's default.
StoredSettings applicableSettings(StoredSettings values);

// The file text: four CR LF lines, "XZBTL", "FWBTL", "RESET", "YULAN", each followed by its
// value in decimal.
QByteArray formatSettings(const StoredSettings &values);

// Reads settings text into `values`. Every line (ended by CR LF, CR or LF) whose first five
// characters equal a key, with case, sets that key's field to the line's last character when
// that is a decimal digit; any other line, and a keyed line ending in something else, changes
// nothing. A key that occurs twice takes its last value; a missing key keeps the field as it
// was. Reads as a stream, so a huge or binary file costs no more memory than a small one.
void parseSettings(QIODevice &in, StoredSettings &values);
void parseSettings(const QByteArray &text, StoredSettings &values);

// Reads the settings file into `values`. False, with `values` untouched, when there is no
// regular file at `path` or it cannot be read: the caller treats that as a first start. Only
// the first settingsReadLimit bytes count (a line cut there is dropped): a huge file cannot
// delay the start.
constexpr qint64 settingsReadLimit = 64 * 1024;
bool readSettingsFile(const QString &path, StoredSettings &values);

// Replaces the settings file in one step (a temporary file in the same folder, then a rename),
// so a crash or a full disk never leaves a truncated file behind. False when it could not be
// written; the old file then stays as it was. Written only where the path, after its links,
// is a regular file or nothing yet: a settings file linked to /dev/null (or to a folder, a
// pipe, a device) is left alone and nothing is written.
bool writeSettingsFile(const QString &path, const StoredSettings &values);
