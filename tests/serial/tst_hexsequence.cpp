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
};

QTEST_APPLESS_MAIN(TestHexSequence)
#include "tst_hexsequence.moc"
