// The image loader and the dump on arbitrary files: a file is taken whole, and each dump row
// shows exactly the 16 bytes it stands for.
#include "blocksplit.h"
#include "fuzzcheck.h"
#include "hexdump.h"
#include "imagefile.h"

#include <fcntl.h>
#include <unistd.h>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzInput in{data, size};
    const QByteArray content = in.take(size);
    const qint64 n = content.size();

    const QString path = scratchDir() + QStringLiteral("/image.bin");
    const QByteArray name = QFile::encodeName(path);
    const int fd = ::open(name.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    CHECK(fd >= 0);
    CHECK(::write(fd, content.constData(), size_t(n)) == n);
    ::close(fd);

    const ImageFile::Result r = ImageFile::read(path, BlockSplit::maxLength);
    if (n == 0)
        CHECK(r.outcome == ImageFile::Outcome::Empty);
    else
        CHECK(r.outcome == ImageFile::Outcome::Loaded && r.data == content);
    CHECK(r.outcome == ImageFile::Outcome::Loaded || r.data.isEmpty());

    const QByteArray &image = r.data;
    const qint64 length = image.size();
    const qint64 rows = length == 0 ? 1 : (length + 15) / 16;
    const QString text = HexDump::text(image);
    CHECK(text.size() == 56 + 2 + 80 + rows * 82);
    CHECK(text.size() == HexDump::textLength(length));
    CHECK(HexDump::utf8(image) == text.toUtf8());
    const QStringList lines = text.split(QStringLiteral("\r\n"));
    CHECK(lines.size() == 2 + rows);
    CHECK(lines[0] == HexDump::headerLine() && lines[1] == QString(80, QLatin1Char('*')));
    for (qint64 row = 0; row < rows; ++row) { // address, 16 hex pairs, 16 characters
        QString expected = QString::asprintf(" %08llX|", row * 16);
        QString shown;
        for (qint64 at = row * 16; at < row * 16 + 16; ++at) {
            const uchar b = at < length ? uchar(image[at]) : 0;
            expected += at < length ? QString::asprintf(" %02X", b) : QStringLiteral("   ");
            shown += at < length && b > 0x21 && b < 0x7E ? QChar(b) : QLatin1Char(' ');
        }
        expected += QStringLiteral("|  |") + shown + QStringLiteral(" |");
        CHECK(lines[2 + row] == expected && HexDump::row(image, row) == expected);
    }
    return 0;
}
