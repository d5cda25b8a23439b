#include "hexdump.h"
#include "imagebuffer.h"
#include "imagefacts.h"
#include "imagefile.h"

#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QtTest>

#include <sys/stat.h>

using ImageFile::Outcome;

namespace
{

QString dump(const QStringList &rows)
{
    return QStringLiteral("   地址  | 00 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F\r\n") +
           QString(80, u'*') + QStringLiteral("\r\n") + rows.join(QStringLiteral("\r\n"));
}

// A second, deliberately plain way of writing a row, to hold the table-driven writer to.
QString plainRow(const QByteArray &data, qint64 r)
{
    QString s = QString::asprintf(" %08llX|", (unsigned long long)(r * 16));
    QString shown;
    for (qint64 k = r * 16; k < r * 16 + 16; ++k) {
        const uchar b = k < data.size() ? uchar(data[k]) : 0;
        s += k < data.size() ? QString::asprintf(" %02X", b) : QStringLiteral("   ");
        shown += (b >= 34 && b <= 125) ? QChar(b) : QChar(u' ');
    }
    return s + QStringLiteral("|  |") + shown + QStringLiteral(" |");
}

} // namespace

class TestImage : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase() { qputenv("XDG_CONFIG_HOME", m_dir.path().toLocal8Bit()); }
    void dumpText_data();
    void dumpText();
    void addresses_data();
    void addresses();
    void writerAgreesWithAPlainOne();
    void blockSplit_data();
    void blockSplit();
    void labels_data();
    void labels();
    void read_data();
    void read();
    void changedWhileRead_data();
    void changedWhileRead();
    void refusalMessages();

private:
    QString file(const QString &name, qint64 size, char fill = 'x');
    QTemporaryDir m_dir;
};

QString TestImage::file(const QString &name, qint64 size, char fill)
{
    QFile f(m_dir.filePath(name));
    const bool sparse = size > (1 << 20); // large ones are holes: quick to make, read as 0
    if (!f.open(QIODevice::WriteOnly) ||
        (sparse ? !f.resize(size) : f.write(QByteArray(size, fill)) != size))
        qFatal("cannot write %s", qPrintable(f.fileName()));
    return f.fileName();
}

void TestImage::dumpText_data()
{
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<QString>("expected");
    QByteArray ramp;
    for (int i = 0; i < 32; ++i)
        ramp.append(char(i));
    const QString blank16 = QString(16, u' ') + QStringLiteral(" |");
    QTest::newRow("32 bytes 00..1F")
        << ramp
        << dump({" 00000000| 00 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F|  |" + blank16,
                 " 00000010| 10 11 12 13 14 15 16 17 18 19 1A 1B 1C 1D 1E 1F|  |" + blank16});
    QTest::newRow("20 bytes, partial row")
        << QByteArray::fromHex("41422021227D7E7F80FF000A3031323334353637")
        << dump(
               {" 00000000| 41 42 20 21 22 7D 7E 7F 80 FF 00 0A 30 31 32 33|  |AB  \"}      0123 |",
                " 00000010| 34 35 36 37" + QString(36, u' ') + "|  |4567             |"});
    QTest::newRow("nothing loaded")
        << QByteArray() << dump({" 00000000|" + QString(48, u' ') + "|  |" + blank16});
    QTest::newRow("16 bytes: one row")
        << QByteArray(16, 'Z')
        << dump({" 00000000|" + QString(" 5A").repeated(16) + "|  |ZZZZZZZZZZZZZZZZ |"});
    QTest::newRow("17 bytes: two rows")
        << QByteArray(17, '{')
        << dump({" 00000000|" + QString(" 7B").repeated(16) + "|  |{{{{{{{{{{{{{{{{ |",
                 " 00000010| 7B" + QString(45, u' ') + "|  |{" + QString(15, u' ') + " |"});
}

void TestImage::dumpText()
{
    QFETCH(QByteArray, data);
    QFETCH(QString, expected);
    QCOMPARE(HexDump::text(data), expected);
    QCOMPARE(HexDump::textLength(data.size()), expected.size());
    QCOMPARE(HexDump::utf8(data), expected.toUtf8());
    QCOMPARE(HexDump::header(), expected.left(138));
}

void TestImage::addresses_data()
{
    QTest::addColumn<qint64>("row");
    QTest::addColumn<QString>("start");
    QTest::newRow("2000") << qint64(2000) << " 00007D00|";
    QTest::newRow("4096") << qint64(4096) << " 00010000|";
    QTest::newRow("last of 64 MiB - 1") << qint64(4194303) << " 03FFFFF0|";
}

void TestImage::addresses()
{
    QFETCH(qint64, row);
    QFETCH(QString, start);
    const QString text = HexDump::row(QByteArray(), row); // past the end: blank cells
    QCOMPARE(text, start + QString(48, u' ') + "|  |" + QString(16, u' ') + " |");
}

void TestImage::writerAgreesWithAPlainOne()
{
    QRandomGenerator rng(20261206);
    for (int length : {1, 15, 33, 4096 + 7}) {
        QByteArray data(length, Qt::Uninitialized);
        for (char &c : data)
            c = char(rng.bounded(256));
        QStringList rows;
        for (qint64 r = 0; r < HexDump::rowCount(length); ++r)
            rows << plainRow(data, r);
        const QString expected = dump(rows);
        QCOMPARE(HexDump::text(data), expected);

        // Any stretch of rows, each behind its CR LF, is the matching end of the text.
        const qint64 first = rows.size() / 3, count = rows.size() - first;
        QString part(count * 82, Qt::Uninitialized);
        HexDump::writeRows(reinterpret_cast<const uchar *>(data.constData()), length, first, count,
                           reinterpret_cast<char16_t *>(part.data()));
        QCOMPARE(part, expected.right(count * 82));
    }
    QCOMPARE(HexDump::textLength(65536), 336010);
    QCOMPARE(HexDump::rowCount(67108863), 4194304);
}

void TestImage::blockSplit_data()
{
    QTest::addColumn<qint32>("length");
    QTest::addColumn<qint32>("blocks");
    QTest::addColumn<qint32>("remain");
    QTest::addColumn<qint16>("noRemain");
    QTest::newRow("1024") << 1024 << 1 << 0 << qint16(-1);
    QTest::newRow("1500") << 1500 << 1 << 476 << qint16(0);
    QTest::newRow("100") << 100 << 0 << 100 << qint16(0);
    QTest::newRow("0 (nothing loaded)") << 0 << 0 << 0 << qint16(-1);
    QTest::newRow("64 MiB - 1") << 67108863 << 65535 << 1023 << qint16(0);
}

void TestImage::blockSplit()
{
    QFETCH(qint32, length);
    QFETCH(qint32, blocks);
    QFETCH(qint32, remain);
    QFETCH(qint16, noRemain);
    ImageBuffer image;
    if (length > 0)
        image.replaceImage(QByteArray(length, 'Z'));
    image.LOAD_BIN();
    QCOMPARE(image.BIN_BLOCKS, blocks);
    QCOMPARE(image.BIN_REMAIN, remain);
    QCOMPARE(image.BIN_NO_REMAIN, noRemain);
    QCOMPARE(image.BIN_LEN, length); // the split touches nothing else
    QCOMPARE(image.BIN_DATA.size(), length);
}

void TestImage::labels_data()
{
    QTest::addColumn<qint64>("length");
    QTest::addColumn<QString>("kB");
    const QList<std::pair<qint64, const char *>> table{
        {1024, "1kB"},  {1536, "1.5kB"}, {1000, "1kB"},   {2047, "2kB"},   {1280, "1.2kB"},
        {256, "0.2kB"}, {768, "0.8kB"},  {20480, "20kB"}, {1, "0kB"},      {51, "0kB"},
        {52, "0.1kB"},  {3328, "3.2kB"}, {3840, "3.8kB"}, {1485, "1.5kB"}, {67108863, "65536kB"}};
    for (const auto &[length, kB] : table)
        QTest::addRow("%lld", length) << length << QString::fromLatin1(kB);
}

void TestImage::labels()
{
    QFETCH(qint64, length);
    QFETCH(QString, kB);
    QCOMPARE(kiloBytesText(length), kB);
    QCOMPARE(fileNameOf("/home/op/固件/Fw v2.BIN"), QStringLiteral("Fw v2.BIN"));
    QCOMPARE(fileNameOf("fw.bin"), QStringLiteral("fw.bin"));
    QCOMPARE(fileNameOf("/tmp/a\\b.bin"), QStringLiteral("a\\b.bin")); // "\" is part of a name
}

void TestImage::read_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<Outcome>("outcome");
    QTest::addColumn<qint64>("size");
    QTest::newRow("one byte") << file("one.bin", 1) << Outcome::Loaded << qint64(1);
    QTest::newRow("64 MiB - 1") << file("max.bin", 67108863) << Outcome::Loaded << qint64(67108863);
    QTest::newRow("64 MiB") << file("big.bin", 67108864) << Outcome::TooLarge << qint64(67108864);
    QTest::newRow("empty") << file("empty.bin", 0) << Outcome::Empty << qint64(0);
    QTest::newRow("missing") << m_dir.filePath("no.bin") << Outcome::NotFound << qint64(-1);
    QTest::newRow("file as a folder")
        << file("f.bin", 1) + "/x.bin" << Outcome::NotFound << qint64(-1);
    QDir(m_dir.path()).mkdir("dir.BIN");
    QTest::newRow("folder") << m_dir.filePath("dir.BIN") << Outcome::IsFolder << qint64(-1);
    QTest::newRow("device") << "/dev/zero" << Outcome::NotRegularFile << qint64(-1);
    QVERIFY(::mkfifo(QFile::encodeName(m_dir.filePath("pipe.bin")).constData(), 0600) == 0);
    QTest::newRow("pipe, no writer")
        << m_dir.filePath("pipe.bin") << Outcome::NotRegularFile << qint64(-1);
    // Write-only for everyone, root included: a kernel attribute.
    if (QFileInfo::exists("/sys/bus/platform/uevent"))
        QTest::newRow("no permission")
            << "/sys/bus/platform/uevent" << Outcome::NoPermission << qint64(-1);
}

void TestImage::read()
{
    QFETCH(QString, path);
    QFETCH(Outcome, outcome);
    QFETCH(qint64, size);
    const ImageFile::Result r = ImageFile::read(path);
    QCOMPARE(r.outcome, outcome);
    QCOMPARE(r.size, size);
    QFile f(path);
    QCOMPARE(r.data, outcome == Outcome::Loaded && f.open(QIODevice::ReadOnly) ? f.readAll()
                                                                               : QByteArray());
}

void TestImage::changedWhileRead_data()
{
    QTest::addColumn<int>("change"); // bytes added (+) or cut (-) after the first piece
    QTest::newRow("unchanged") << 0;
    QTest::newRow("grows by one byte") << 1;
    QTest::newRow("shrinks") << -100;
    QTest::newRow("shrinks to the bytes read") << -8192;
}

void TestImage::changedWhileRead()
{
    QFETCH(int, change);
    const QString path = file("moving.bin", 3 * 4096 - 1, '\x11');
    const ImageFile::Result r = ImageFile::read(path, 4096, [&](qint64 done) {
        QFile f(path);
        if (done != 4096 || change == 0 || !f.open(QIODevice::ReadWrite))
            return;
        if (change > 0)
            f.seek(f.size()), f.write(QByteArray(change, 'x'));
        else
            f.resize(f.size() + change);
    });
    QCOMPARE(r.outcome, change == 0 ? Outcome::Loaded : Outcome::ChangedWhileRead);
    QCOMPARE(r.data, change == 0 ? QByteArray(3 * 4096 - 1, '\x11') : QByteArray());
}

void TestImage::refusalMessages()
{
    ImageFile::Result r;
    r.outcome = Outcome::TooLarge;
    r.size = 67108864;
    const QString path = QStringLiteral("/tmp/a%2b/fw.bin"); // "%2" stays as it is
    QCOMPARE(ImageFile::refusalMessage(r, path, false),
             "文件“" + path +
                 "”有67108864字节，超过了可下载的最大长度67108863字节，请选择其它文件！");
    r.outcome = Outcome::NotFound;
    QCOMPARE(ImageFile::refusalMessage(r, path, true),
             "文件“" + path + "”不存在，请选择其它文件！\n已加载的Bin文件保持不变。");
    QCOMPARE(ImageFile::refusalTitle(), QStringLiteral("提示信息!"));
}

QTEST_GUILESS_MAIN(TestImage)
#include "tst_image.moc"
