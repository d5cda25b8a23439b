#include "hexsequence.h"

#include <QtTest>

class TestHexSequence : public QObject
{
    Q_OBJECT
private slots:
    void bytes_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QByteArray>("expected"); // "!": malformed
        QTest::newRow("download request") << "44 4D 46" << QByteArray::fromHex("444D46");
        QTest::newRow("trailing blank") << "44 4D 46 " << QByteArray::fromHex("444D46");
        QTest::newRow("one digit, lower case") << "a" << QByteArray::fromHex("0A");
        QTest::newRow("final lone digit") << "44 4" << QByteArray::fromHex("4404");
        QTest::newRow("any separator") << "44x4Dy46" << QByteArray::fromHex("444D46");
        QTest::newRow("extremes") << "00 FF ff" << QByteArray::fromHex("00FFFF");
        QTest::newRow("empty") << "" << QByteArray();
        QTest::newRow("letter outside hex") << "4G" << QByteArray("!");
        QTest::newRow("blank inside a pair") << "44  4D" << QByteArray("!");
        QTest::newRow("lone non-digit") << "44 Z" << QByteArray("!");
        QTest::newRow("sign") << "-1" << QByteArray("!");
        QTest::newRow("full-width digit") << "４４" << QByteArray("!");
    }

    void bytes()
    {
        QFETCH(QString, text);
        QFETCH(QByteArray, expected);
        if (expected == "!")
            QVERIFY_THROWS_EXCEPTION(HexFormatError, hexSequenceBytes(text));
        else
            QCOMPARE(hexSequenceBytes(text), expected);
    }

    void portNumber_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("expected"); // 99999: does not fit a 16-bit number
        QTest::newRow("COM16") << "COM16" << 16;
        QTest::newRow("COM alone") << "COM" << 0;
        QTest::newRow("blanks ignored") << "COM 1 2" << 12;
        QTest::newRow("stops at a letter") << "COM3x4" << 3;
        QTest::newRow("any three characters") << "ttyS5" << 0; // "S5": no number
        QTest::newRow("half to even down") << "COM2.5" << 2;
        QTest::newRow("half to even up") << "COM3.5" << 4;
        QTest::newRow("exponent") << "COM1E1" << 10;
        QTest::newRow("exponent without digits") << "COM4E" << 4;
        QTest::newRow("negative") << "COM-3" << -3;
        QTest::newRow("largest") << "COM32767" << 32767;
        QTest::newRow("too large") << "COM32768" << 99999;
        QTest::newRow("far too large") << "COM1E30" << 99999;
    }

    void portNumber()
    {
        QFETCH(QString, text);
        QFETCH(int, expected);
        const auto n = portNumberFromText(text);
        QCOMPARE(n ? int(*n) : 99999, expected);
    }
};

QTEST_APPLESS_MAIN(TestHexSequence)
#include "tst_hexsequence.moc"
