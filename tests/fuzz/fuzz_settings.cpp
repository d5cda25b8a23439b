// The settings reader on arbitrary bytes: read whole, handed out in small pieces and from a
// file, each time with the same result as a plain line-by-line reading.
#include "fuzzcheck.h"
#include "settingsfile.h"

#include <QFile>
#include <QIODevice>

#include <cstring>

namespace
{

// Hands its bytes out at most `piece` at a time, so line ends fall across read boundaries.
class Trickle : public QIODevice
{
public:
    Trickle(const QByteArray &bytes, int piece) : m_bytes(bytes), m_piece(piece)
    {
        open(QIODevice::ReadOnly | QIODevice::Unbuffered);
    }
    bool isSequential() const override { return true; }

protected:
    qint64 readData(char *into, qint64 max) override
    {
        const qint64 n = qMin<qint64>(qMin<qint64>(max, m_piece), m_bytes.size() - m_at);
        std::memcpy(into, m_bytes.constData() + m_at, size_t(n));
        m_at += n;
        return n;
    }
    qint64 writeData(const char *, qint64) override { return -1; }

private:
    QByteArray m_bytes;
    int m_piece;
    qint64 m_at = 0;
};

// The reading the file format promises, done the plain way: lines split at CR LF, CR or LF; a
// line starting with a key sets that key's field when its last character is a digit.
StoredSettings plainReading(QByteArray text, StoredSettings v)
{
    const char *keys[] = {"XZBTL", "FWBTL", "RESET", "YULAN"};
    qint16 *fields[] = {&v.DOWN_BAUD_INDEX, &v.RESET_BAUD_INDEX, &v.AUTO_RESET, &v.PREVIEW_BIN};
    text.replace("\r\n", "\n").replace('\r', '\n');
    for (const QByteArray &line : text.split('\n')) {
        for (int k = 0; k < 4; ++k) {
            if (line.startsWith(keys[k])) {
                if (line.back() >= '0' && line.back() <= '9')
                    *fields[k] = qint16(line.back() - '0');
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
    const int piece = 1 + in.byte() % 64;
    const QByteArray text = in.take(size);
    const StoredSettings before{-7, 300, -1, 12};

    StoredSettings whole = before;
    parseSettings(text, whole);
    CHECK(whole == plainReading(text, before));

    StoredSettings pieces = before;
    Trickle trickle(text, piece);
    parseSettings(trickle, pieces);
    CHECK(pieces == whole);

    const QString path = scratchDir() + QStringLiteral("/VANTREL_SET.SB");
    {
        QFile file(path);
        CHECK(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        CHECK(file.write(text) == text.size());
    }
    StoredSettings fromFile = before;
    CHECK(readSettingsFile(path, fromFile));
    CHECK(fromFile == whole || text.size() > settingsReadLimit); // only the head of a long file

    return 0;
}
