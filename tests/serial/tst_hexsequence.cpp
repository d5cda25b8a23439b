#include "hexsequence.h"

#include <QtTest>

class TestHexSequence : public QObject
{
    Q_OBJECT
private slots:
    void bytes_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QByteArray>("expected");
        QTest::newRow("download request") << "44 4D 46" << QByteArray::fromHex("444D46");
        QTest::newRow("trailing blank adds nothing")
            << "44 4D 46 " << QByteArray::fromHex("444D46");
        QTest::newRow("lower case") << "4d" << QByteArray::fromHex("4D");
        QTest::newRow("one digit") << "A" << QByteArray::fromHex("0A");
        QTest::newRow("final lone digit") << "44 4" << QByteArray::fromHex("4404");
        QTest::newRow("separator is skipped whatever it is")
            << "44x4Dy46" << QByteArray::fromHex("444D46");
        QTest::newRow("extremes") << "00 FF ff" << QByteArray::fromHex("00FFFF");
        QTest::newRow("empty") << "" << QByteArray();
    }

    void bytes()
    {
        QFETCH(QString, text);
        QFETCH(QByteArray, expected);
        QCOMPARE(hexSequenceBytes(text), expected);
    }

    void malformed_data()
    {
        QTest::addColumn<QString>("text");
        QTest::newRow("letter outside hex") << "4G";
        QTest::newRow("blank inside a pair") << "44  4D";
        QTest::newRow("lone non-digit") << "44 Z";
        QTest::newRow("sign") << "-1";
        QTest::newRow("full-width digit") << "４４";
    }

    void malformed()
    {
        QFETCH(QString, text);
        QVERIFY_THROWS_EXCEPTION(HexFormatError, hexSequenceBytes(text));
    }

    void portNumber_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("expected"); // -1: does not fit a 16-bit number
        QTest::newRow("COM1") << "COM1" << 1;
        QTest::newRow("COM16") << "COM16" << 16;
        QTest::newRow("COM alone") << "COM" << 0;
        QTest::newRow("empty") << "" << 0;
        QTest::newRow("blanks ignored") << "COM 1 2" << 12;
        QTest::newRow("stops at a letter") << "COM3x4" << 3;
        QTest::newRow("any three characters") << "ttyS5" << 0; // "S5": no number
        QTest::newRow("half to even down") << "COM2.5" << 2;
        QTest::newRow("half to even up") << "COM3.5" << 4;
        QTest::newRow("rounds up") << "COM7.6" << 8;
        QTest::newRow("exponent") << "COM1E1" << 10;
        QTest::newRow("exponent without digits") << "COM4E" << 4;
        QTest::newRow("negative") << "COM-3" << -3;
        QTest::newRow("largest") << "COM32767" << 32767;
        QTest::newRow("too large") << "COM32768" << -1;
        QTest::newRow("far too large") << "COM1E30" << -1;
    }

    void portNumber()
    {
        QFETCH(QString, text);
        QFETCH(int, expected);
        const auto n = portNumberFromText(text);
        if (expected == -1)
            QVERIFY(!n.has_value());
        else
            QCOMPARE(int(n.value_or(-999)), expected);
    }
};

QTEST_APPLESS_MAIN(TestHexSequence)
#include "tst_hexsequence.moc"
