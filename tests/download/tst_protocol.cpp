#include "protocol.h"

#include <QTest>

using namespace Protocol;

Q_DECLARE_METATYPE(Protocol::Reply)

class TestProtocol : public QObject
{
    Q_OBJECT
private slots:
    void requestsAndReplies();
    void replyMatching_data();
    void replyMatching();
    void lengthField_data();
    void lengthField();
    void lengthFrameTicks();
    void progress_data();
    void progress();
};

void TestProtocol::requestsAndReplies()
{
    QCOMPARE(RESET_REQUEST,
             QStringLiteral("F1 F2 F3 F4 F5 E1 E2 E3 E4 E5 5D 4D 3D 2D 1D 5C 4C 3C 2C 1C"));
    QCOMPARE(DOWNLOAD_REQUEST, QStringLiteral("44 4D 46"));
    QCOMPARE(LENGTH_HEAD, QStringLiteral("B1 B2 B3"));
    QCOMPARE(LENGTH_TAIL, QStringLiteral("1B 2B 3B"));
    QCOMPARE(replyBytes(Reply::A), QByteArray::fromHex("A1A2A32A1A"));
    QCOMPARE(replyBytes(Reply::B), QByteArray::fromHex("B1B2B32B1B"));
    QCOMPARE(replyBytes(Reply::C), QByteArray::fromHex("C1C2C32C1C"));
    QCOMPARE(replyBytes(Reply::D), QByteArray::fromHex("D1D2D32D1D"));
}

void TestProtocol::replyMatching_data()
{
    QTest::addColumn<QByteArray>("read");
    QTest::addColumn<Reply>("reply");
    QTest::addColumn<bool>("matches");

    QTest::newRow("A") << QByteArray::fromHex("A1A2A32A1A") << Reply::A << true;
    QTest::newRow("D") << QByteArray::fromHex("D1D2D32D1D") << Reply::D << true;
    QTest::newRow("B is not A") << QByteArray::fromHex("B1B2B32B1B") << Reply::A << false;
    QTest::newRow("C is not D") << QByteArray::fromHex("C1C2C32C1C") << Reply::D << false;
    // Only the first five bytes of a read count.
    QTest::newRow("trailing bytes") << QByteArray::fromHex("C1C2C32C1C00") << Reply::C << true;
    QTest::newRow("stray byte first") << QByteArray::fromHex("00B1B2B32B") << Reply::B << false;
    QTest::newRow("last byte wrong") << QByteArray::fromHex("B1B2B32B1C") << Reply::B << false;
    QTest::newRow("swapped tail") << QByteArray::fromHex("B1B2B31B2B") << Reply::B << false;
    // A read emptied down to fewer than five bytes never matches, even as a prefix.
    QTest::newRow("four bytes") << QByteArray::fromHex("B1B2B32B") << Reply::B << false;
    QTest::newRow("one byte") << QByteArray::fromHex("A1") << Reply::A << false;
    QTest::newRow("empty") << QByteArray() << Reply::A << false;
}

void TestProtocol::replyMatching()
{
    QFETCH(QByteArray, read);
    QFETCH(Reply, reply);
    QFETCH(bool, matches);
    QCOMPARE(isReply(read, reply), matches);
}

void TestProtocol::lengthField_data()
{
    QTest::addColumn<qint32>("length");
    QTest::addColumn<QByteArray>("field"); // empty: the field cannot describe the image

    QTest::newRow("100") << 100 << QByteArray::fromHex("00000064");
    QTest::newRow("1024") << 1024 << QByteArray::fromHex("00010000");
    QTest::newRow("1500") << 1500 << QByteArray::fromHex("000101DC");
    QTest::newRow("2048") << 2048 << QByteArray::fromHex("00020000");
    QTest::newRow("70000") << 70000 << QByteArray::fromHex("00440170");
    QTest::newRow("no image") << 0 << QByteArray::fromHex("00000000");
    QTest::newRow("1023") << 1023 << QByteArray::fromHex("000003FF");
    QTest::newRow("64 MiB - 1") << qint32(maxImageLength) << QByteArray::fromHex("FFFF03FF");
    QTest::newRow("64 MiB") << qint32(maxImageLength + 1) << QByteArray();
    QTest::newRow("100 MiB") << 100 * 1024 * 1024 << QByteArray();
}

void TestProtocol::lengthField()
{
    QFETCH(qint32, length);
    QFETCH(QByteArray, field);
    const auto got = Protocol::lengthField(length / blockSize, length % blockSize);
    QCOMPARE(got.has_value(), !field.isEmpty());
    if (got)
        QCOMPARE(*got, field);
}

void TestProtocol::lengthFrameTicks()
{
    QList<int> frameTicks;
    for (int tick = 1; tick <= lengthStepTickLimit + 1; ++tick)
        if (isLengthFrameTick(tick))
            frameTicks << tick;
    // Eleven frames at most before the connection failure on the 54th tick.
    QCOMPARE(frameTicks, (QList<int>{1, 5, 10, 15, 20, 25, 30, 35, 40, 45, 50}));
}

void TestProtocol::progress_data()
{
    QTest::addColumn<qint32>("length");
    QTest::addColumn<qint32>("n");
    QTest::addColumn<int>("percent");
    QTest::addColumn<int>("width"); // of the fill over an 8145-twip track

    // The image transfer's own table covers 100, 1500, 2048 and 70000 bytes; these add the
    // other rounding cases.
    QTest::newRow("70000, n=1") << 70000 << 1 << 1 << 236;
    // 8145 * 3 / 6 = 4072.5 again, 8145 * 1 / 6 = 1357.5 goes up to the even 1358.
    QTest::newRow("6144, n=0") << 6144 << 0 << 15 << 1358;
    QTest::newRow("6144, n=2") << 6144 << 2 << 49 << 4072;
}

void TestProtocol::progress()
{
    QFETCH(qint32, length);
    QFETCH(qint32, n);
    QFETCH(int, percent);
    QFETCH(int, width);
    const qint32 total = totalBlocks(length / blockSize, length % blockSize == 0);
    QCOMPARE(progressPercent(n, total), percent);
    QCOMPARE(progressWidth(8145.0, n, total), width);
    QCOMPARE(progressText(percent), QStringLiteral("下载进度：%1%").arg(percent));
}

QTEST_GUILESS_MAIN(TestProtocol)
#include "tst_protocol.moc"
