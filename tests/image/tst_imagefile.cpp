#include "imagebuffer.h"
#include "imagefacts.h"
#include "imagefile.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <sys/stat.h>
#include <unistd.h>

using ImageFile::Outcome;

class TestImageFile : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void blockSplit_data();
    void blockSplit();
    void kiloBytes_data();
    void kiloBytes();
    void fileName_data();
    void fileName();
    void read_data();
    void read();
    void changedWhileRead_data();
    void changedWhileRead();
    void unreadable();
    void messages_data();
    void messages();

private:
    QString makeFile(const QString &name, const QByteArray &bytes);
    QString makeSparse(const QString &name, qint64 size);
    QTemporaryDir m_home;
    QTemporaryDir m_dir;
};

void TestImageFile::initTestCase()
{
    qputenv("XDG_CONFIG_HOME", m_home.path().toLocal8Bit());
    QVERIFY(m_dir.isValid());
}

QString TestImageFile::makeFile(const QString &name, const QByteArray &bytes)
{
    QFile f(m_dir.filePath(name));
    if (!f.open(QIODevice::WriteOnly) || f.write(bytes) != bytes.size())
        qFatal("cannot write %s", qPrintable(f.fileName()));
    return f.fileName();
}

QString TestImageFile::makeSparse(const QString &name, qint64 size)
{
    QFile f(m_dir.filePath(name));
    if (!f.open(QIODevice::WriteOnly) || !f.resize(size))
        qFatal("cannot size %s", qPrintable(f.fileName()));
    return f.fileName();
}

void TestImageFile::blockSplit_data()
{
    QTest::addColumn<qint32>("length");
    QTest::addColumn<qint32>("blocks");
    QTest::addColumn<qint32>("remain");
    QTest::addColumn<qint16>("noRemain");
    QTest::newRow("1024") << 1024 << 1 << 0 << qint16(-1);
    QTest::newRow("1500") << 1500 << 1 << 476 << qint16(0);
    QTest::newRow("100") << 100 << 0 << 100 << qint16(0);
    QTest::newRow("0 (nothing loaded)") << 0 << 0 << 0 << qint16(-1);
    QTest::newRow("1023") << 1023 << 0 << 1023 << qint16(0);
    QTest::newRow("64 MiB - 1") << 67108863 << 65535 << 1023 << qint16(0);
}

void TestImageFile::blockSplit()
{
    QFETCH(qint32, length);
    QFETCH(qint32, blocks);
    QFETCH(qint32, remain);
    QFETCH(qint16, noRemain);
    ImageBuffer image;
    if (length > 0)
        image.replaceImage(QByteArray(length, '\x5A'));
    const QByteArray before = image.BIN_DATA;
    image.LOAD_BIN();
    QCOMPARE(image.BIN_BLOCKS, blocks);
    QCOMPARE(image.BIN_REMAIN, remain);
    QCOMPARE(image.BIN_NO_REMAIN, noRemain);
    // The split touches nothing else.
    QCOMPARE(image.BIN_LEN, length);
    QCOMPARE(image.BIN_DATA, before);
}

void TestImageFile::kiloBytes_data()
{
    QTest::addColumn<qint64>("length");
    QTest::addColumn<QString>("text");
    const QList<std::pair<qint64, const char *>> table{
        {1024, "1kB"},      {1536, "1.5kB"}, {1000, "1kB"},   {2047, "2kB"},
        {1280, "1.2kB"},    {256, "0.2kB"},  {768, "0.8kB"},  {20480, "20kB"},
        {1, "0kB"},         {51, "0kB"},     {52, "0.1kB"},   {3328, "3.2kB"}, // 3.25 -> even
        {3840, "3.8kB"},    {1484, "1.4kB"}, {1485, "1.5kB"}, {67108863, "65536kB"},
        {1048576, "1024kB"}};
    for (const auto &[length, text] : table)
        QTest::addRow("%lld", length) << length << QString::fromLatin1(text);
}

void TestImageFile::kiloBytes()
{
    QFETCH(qint64, length);
    QFETCH(QString, text);
    QCOMPARE(kiloBytesText(length), text);
}

void TestImageFile::fileName_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("name");
    QTest::newRow("absolute") << "/home/op/fw/Firmware.BIN"
                              << "Firmware.BIN";
    QTest::newRow("no folder") << "fw.bin"
                               << "fw.bin";
    QTest::newRow("backslash is part of a Linux name") << "/tmp/a\\b.bin"
                                                       << "a\\b.bin";
    QTest::newRow("Chinese name") << "/固件/主板 v2.bin"
                                  << "主板 v2.bin";
    QTest::newRow("relative") << "out/fw.bin"
                              << "fw.bin";
}

void TestImageFile::fileName()
{
    QFETCH(QString, path);
    QFETCH(QString, name);
    QCOMPARE(fileNameOf(path), name);
}

void TestImageFile::read_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<int>("outcome");
    QTest::addColumn<qint64>("size");

    QTest::newRow("one byte") << makeFile("one.bin", "\x7F") << int(Outcome::Loaded) << qint64(1);
    QTest::newRow("missing") << m_dir.filePath("nope.bin") << int(Outcome::NotFound) << qint64(-1);
    QTest::newRow("missing folder")
        << m_dir.filePath("no/fw.bin") << int(Outcome::NotFound) << qint64(-1);
    QTest::newRow("file used as folder")
        << makeFile("plain.bin", "x") + "/fw.bin" << int(Outcome::NotFound) << qint64(-1);
    QDir(m_dir.path()).mkdir("folder.BIN");
    QTest::newRow("folder") << m_dir.filePath("folder.BIN") << int(Outcome::IsFolder) << qint64(-1);
    QTest::newRow("empty") << makeFile("empty.bin", "") << int(Outcome::Empty) << qint64(0);
    QTest::newRow("device") << "/dev/zero" << int(Outcome::NotRegularFile) << qint64(-1);
    const QString fifo = m_dir.filePath("pipe.bin");
    QVERIFY(::mkfifo(QFile::encodeName(fifo).constData(), 0600) == 0);
    QTest::newRow("pipe, nobody writing") << fifo << int(Outcome::NotRegularFile) << qint64(-1);
    QTest::newRow("64 MiB") << makeSparse("64m.bin", 67108864) << int(Outcome::TooLarge)
                            << qint64(67108864);
    QTest::newRow("64 MiB - 1") << makeSparse("64m-1.bin", 67108863) << int(Outcome::Loaded)
                                << qint64(67108863);
}

void TestImageFile::read()
{
    QFETCH(QString, path);
    QFETCH(int, outcome);
    QFETCH(qint64, size);
    const ImageFile::Result r = ImageFile::read(path);
    QCOMPARE(int(r.outcome), outcome);
    QCOMPARE(r.size, size);
    if (r.outcome == Outcome::Loaded) {
        QFile f(path);
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(r.data.size(), size);
        QVERIFY(r.data == f.readAll());
    } else {
        QVERIFY(r.data.isEmpty());
    }
}

void TestImageFile::changedWhileRead_data()
{
    QTest::addColumn<int>("change"); // bytes added (+) or cut (-) after the first piece
    QTest::addColumn<int>("outcome");
    QTest::newRow("unchanged") << 0 << int(Outcome::Loaded);
    QTest::newRow("grows") << 100 << int(Outcome::ChangedWhileRead);
    QTest::newRow("grows by one byte") << 1 << int(Outcome::ChangedWhileRead);
    QTest::newRow("shrinks into the last piece") << -100 << int(Outcome::ChangedWhileRead);
    QTest::newRow("shrinks to the bytes read") << -8192 << int(Outcome::ChangedWhileRead);
}

void TestImageFile::changedWhileRead()
{
    QFETCH(int, change);
    QFETCH(int, outcome);
    const QByteArray bytes(3 * 4096, '\x11');
    const QString path = makeFile("moving.bin", bytes);
    int pieces = 0;
    const ImageFile::Result r = ImageFile::read(path, 4096, [&](qint64 done) {
        if (++pieces != 1)
            return;
        QCOMPARE(done, 4096);
        QFile f(path);
        QVERIFY(f.open(QIODevice::ReadWrite));
        if (change > 0) {
            f.seek(f.size());
            f.write(QByteArray(change, '\x22'));
        } else if (change < 0) {
            f.resize(f.size() + change);
        }
    });
    QCOMPARE(int(r.outcome), outcome);
    QCOMPARE(r.size, bytes.size());
    QCOMPARE(r.data, outcome == int(Outcome::Loaded) ? bytes : QByteArray());
}

void TestImageFile::unreadable()
{
    // A file the system will not open for reading, whoever asks: a write-only kernel
    // attribute. (A file without read permission would do for other users, but not for root.)
    const QString path = QStringLiteral("/sys/bus/platform/uevent");
    if (!QFileInfo::exists(path) || QFile(path).open(QIODevice::ReadOnly))
        QSKIP("no write-only attribute to try here");
    const ImageFile::Result r = ImageFile::read(path);
    QCOMPARE(int(r.outcome), int(Outcome::NoPermission));
    QVERIFY(r.data.isEmpty());
}

void TestImageFile::messages_data()
{
    QTest::addColumn<int>("outcome");
    QTest::addColumn<qint64>("size");
    QTest::addColumn<QString>("expected");
    const QString p = QStringLiteral("/tmp/a%2b/fw.bin");
    QTest::newRow("missing") << int(Outcome::NotFound) << qint64(-1)
                             << "文件“" + p + "”不存在，请选择其它文件！";
    QTest::newRow("folder") << int(Outcome::IsFolder) << qint64(-1)
                            << "“" + p + "”是文件夹，不是Bin文件，请选择其它文件！";
    QTest::newRow("empty") << int(Outcome::Empty) << qint64(0)
                           << "文件“" + p + "”是空文件（0字节），请选择其它文件！";
    QTest::newRow("too large")
        << int(Outcome::TooLarge) << qint64(67108864)
        << "文件“" + p + "”有67108864字节，超过了可下载的最大长度67108863字节，请选择其它文件！";
    QTest::newRow("changed") << int(Outcome::ChangedWhileRead) << qint64(10)
                             << "文件“" + p + "”在读取时被改动，请重新加载！";
    QTest::newRow("no permission") << int(Outcome::NoPermission) << qint64(-1)
                                   << "没有读取文件“" + p + "”的权限，请选择其它文件！";
}

void TestImageFile::messages()
{
    QFETCH(int, outcome);
    QFETCH(qint64, size);
    QFETCH(QString, expected);
    ImageFile::Result r;
    r.outcome = Outcome(outcome);
    r.size = size;
    const QString path = QStringLiteral("/tmp/a%2b/fw.bin"); // "%2" must stay as it is
    QCOMPARE(ImageFile::refusalMessage(r, path, false), expected);
    QCOMPARE(ImageFile::refusalMessage(r, path, true),
             expected + QStringLiteral("\n已加载的Bin文件保持不变。"));
    QCOMPARE(ImageFile::refusalTitle(), QStringLiteral("提示信息!"));
}

QTEST_GUILESS_MAIN(TestImageFile)
#include "tst_imagefile.moc"
