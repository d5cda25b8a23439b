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

constexpr std::array<const char *, 4> keys{"XZBTL", "FWBTL", "RESET", "YULAN"};

qint16 *fieldFor(int key, StoredSettings &v)
{
    switch (key) {
    case 0:
        return &v.DOWN_BAUD_INDEX;
    case 1:
        return &v.RESET_BAUD_INDEX;
    case 2:
        return &v.AUTO_RESET;
    default:
        return &v.PREVIEW_BIN;
    }
}

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
    void finish(StoredSettings &values)
    {
        if (length >= 5) {
            for (int k = 0; k < int(keys.size()); ++k) {
                if (std::equal(head, head + 5, keys[k])) {
                    if (last >= '0' && last <= '9')
                        *fieldFor(k, values) = qint16(last - '0');
                    break;
                }
            }
        }
        *this = LineState();
    }
};

} // namespace

QByteArray formatSettings(const StoredSettings &v)
{
    QByteArray text;
    text += "XZBTL" + QByteArray::number(v.DOWN_BAUD_INDEX) + "\r\n";
    text += "FWBTL" + QByteArray::number(v.RESET_BAUD_INDEX) + "\r\n";
    text += "RESET" + QByteArray::number(v.AUTO_RESET) + "\r\n";
    text += "YULAN" + QByteArray::number(v.PREVIEW_BIN) + "\r\n";
    return text;
}

void parseSettings(QIODevice &in, StoredSettings &values)
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
                line.finish(values);
            else
                line.add(c);
        }
    }
    if (line.length > 0)
        line.finish(values);
}

void parseSettings(const QByteArray &text, StoredSettings &values)
{
    QByteArray copy = text;
    QBuffer buffer(&copy);
    buffer.open(QIODevice::ReadOnly);
    parseSettings(buffer, values);
}

bool readSettingsFile(const QString &path, StoredSettings &values)
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
    StoredSettings read = values;
    parseSettings(text, read);
    values = read;
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

StoredSettings applicableSettings(StoredSettings v)
{
    const StoredSettings d = StoredSettings::defaults();
    if (v.DOWN_BAUD_INDEX < 0 || v.DOWN_BAUD_INDEX >= downloadRates().size())
        v.DOWN_BAUD_INDEX = d.DOWN_BAUD_INDEX;
    if (v.RESET_BAUD_INDEX < 0 || v.RESET_BAUD_INDEX >= resetRates().size())
        v.RESET_BAUD_INDEX = d.RESET_BAUD_INDEX;
    if (v.AUTO_RESET != 0 && v.AUTO_RESET != 1)
        v.AUTO_RESET = d.AUTO_RESET;
    if (v.PREVIEW_BIN != 0 && v.PREVIEW_BIN != 1)
        v.PREVIEW_BIN = d.PREVIEW_BIN;
    return v;
}
