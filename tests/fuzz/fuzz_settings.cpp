// The settings reader on arbitrary bytes, from memory and a file, against a plain reading.
#include "fuzzcheck.h"
#include "settingsfile.h"

#include <QFile>

namespace
{

// Lines split at CR LF, CR or LF; one starting with a key sets it when it ends in a digit.
SettingsDigits plainReading(QByteArray text, SettingsDigits v)
{
    const char *keys[] = {"XZBTL", "FWBTL", "RESET", "YULAN"};
    int *digits[] = {&v.downloadRateIndex, &v.resetRateIndex, &v.autoReset, &v.preview};
    text.replace("\r\n", "\n").replace('\r', '\n');
    for (const QByteArray &line : text.split('\n')) {
        for (int k = 0; k < 4; ++k) {
            if (line.startsWith(keys[k])) {
                if (line.back() >= '0' && line.back() <= '9')
                    *digits[k] = line.back() - '0';
                break;
            }
        }
    }
    return v;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzInput in{data, size};
    const QByteArray text = in.take(size);
    const SettingsDigits before{-7, 300, -1, 12};

    SettingsDigits whole = before;
    parseSettings(text, whole);
    CHECK(whole == plainReading(text, before));

    const QString path = scratchDir() + QStringLiteral("/VANTREL_SET.SB");
    {
        QFile file(path);
        CHECK(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        CHECK(file.write(text) == text.size());
    }
    SettingsDigits fromFile = before;
    CHECK(readSettingsFile(path, fromFile));
    CHECK(fromFile == whole || text.size() > settingsReadLimit); // only the head of a long file

    return 0;
}
