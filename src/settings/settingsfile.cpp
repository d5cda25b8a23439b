#include "settingsfile.h"

#include <QBuffer>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <array>
#include <cerrno>
#include <sys/stat.h>

namespace
{

// The file's keys, in the file's order, and the digit each one sets.
struct Key {
    const char *name;
    int SettingsDigits::*digit;
};
constexpr std::array<Key, 4> keys{{{"XZBTL", &SettingsDigits::downloadRateIndex},
                                   {"FWBTL", &SettingsDigits::resetRateIndex},
                                   {"RESET", &SettingsDigits::autoReset},
                                   {"YULAN", &SettingsDigits::preview}}};

// Collects what one line needs: its first five bytes, its length and its last byte.
struct LineState {
    char head[5] = {};
    qint64 length = 0;
    char last = 0;

    void add(char c)
    {
        if (length < 5)
            head[length] = c;
        ++length;
        last = c;
    }
    void finish(SettingsDigits &digits)
    {
        if (length >= 5) {
            for (const Key &key : keys) {
                if (std::equal(head, head + 5, key.name)) {
                    if (last >= '0' && last <= '9')
                        digits.*key.digit = last - '0';
                    break;
                }
            }
        }
        *this = LineState();
    }
};

} // namespace

SettingsDigits settingsDigits(const StoredSettings &values)
{
    return {values.downloadRateIndex, values.resetRateIndex, values.autoReset ? 1 : 0,
            values.preview ? 1 : 0};
}

QByteArray formatSettings(const StoredSettings &values)
{
    const SettingsDigits digits = settingsDigits(values);
    QByteArray text;
    for (const Key &key : keys)
        text += key.name + QByteArray::number(digits.*key.digit) + "\r\n";
    return text;
}

void parseSettings(QIODevice &in, SettingsDigits &digits)
{
    LineState line;
    bool afterCr = false;
    char buffer[64 * 1024];
    for (;;) {
        const qint64 n = in.read(buffer, sizeof buffer);
        if (n <= 0)
            break;
        for (qint64 i = 0; i < n; ++i) {
            const char c = buffer[i];
            if (c == '\n' && afterCr) { // the LF of a CR LF pair
                afterCr = false;
                continue;
            }
            afterCr = c == '\r';
            if (c == '\r' || c == '\n')
                line.finish(digits);
            else
                line.add(c);
        }
    }
    if (line.length > 0)
        line.finish(digits);
}

void parseSettings(const QByteArray &text, SettingsDigits &digits)
{
    QByteArray copy = text;
    QBuffer buffer(&copy);
    buffer.open(QIODevice::ReadOnly);
    parseSettings(buffer, digits);
}

bool readSettingsFile(const QString &path, SettingsDigits &digits)
{
    // Only a regular file counts: a folder or a device in its place is treated as no file.
    const QFileInfo info(path);
    if (!info.exists() || !info.isFile())
        return false;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    QByteArray text = file.read(settingsReadLimit + 1);
    if (file.error() != QFileDevice::NoError)
        return false;
    if (text.size() > settingsReadLimit) {
        text.truncate(settingsReadLimit);
        const qsizetype end = qMax(text.lastIndexOf('\n'), text.lastIndexOf('\r'));
        text.truncate(end + 1); // the line cut at the limit is not read
    }
    parseSettings(text, digits);
    return true;
}

bool writeSettingsFile(const QString &path, const StoredSettings &values)
{
    // QSaveFile follows links and renames a new file over the target: right for a regular
    // file, but it would turn a link to /dev/null into a regular file in /dev.
    struct stat st {
    };
    const QByteArray name = QFile::encodeName(path);
    if (::stat(name.constData(), &st) == 0 ? !S_ISREG(st.st_mode) : errno != ENOENT)
        return false;
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    const QByteArray text = formatSettings(values);
    if (file.write(text) != text.size()) {
        file.cancelWriting();
        return false;
    }
    return file.commit();
}

const QStringList &downloadRates()
{
    static const QStringList rates{"9600", "19200", "38400", "57600", "115200"};
    return rates;
}

const QStringList &resetRates()
{
    static const QStringList rates{"1200",  "2400",  "4800",  "9600",
                                   "19200", "38400", "57600", "115200"};
    return rates;
}

StoredSettings applicableSettings(const SettingsDigits &digits)
{
    const StoredSettings fallback = StoredSettings::defaults();
    const auto index = [](int digit, const QStringList &rates, int otherwise) {
        return digit >= 0 && digit < rates.size() ? digit : otherwise;
    };
    const auto choice = [](int digit, bool otherwise) {
        return digit == 0 || digit == 1 ? digit == 1 : otherwise;
    };
    return {index(digits.downloadRateIndex, downloadRates(), fallback.downloadRateIndex),
            index(digits.resetRateIndex, resetRates(), fallback.resetRateIndex),
            choice(digits.autoReset, fallback.autoReset), choice(digits.preview, fallback.preview)};
}

StoredSettings readStoredSettings(const QString &path)
{
    SettingsDigits digits = settingsDigits(StoredSettings::defaults());
    readSettingsFile(path, digits);
    return applicableSettings(digits);
}
