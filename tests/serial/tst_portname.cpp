// COM numbers as the command line and the window read them, and the names they are written as.
// (How the command line spells a port it is given: tst_cli's commandLine table.)
#include "portname.h"

#include <QtTest>

class TestPortName : public QObject
{
    Q_OBJECT
private slots:
    void windowReading_data()
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

    void windowReading()
    {
        QFETCH(QString, text);
        const auto n = portNumberFromText(text);
        QTEST(n ? int(*n) : 99999, "expected");
    }

    void strictReading_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("expected"); // 0: not a COM number
        QTest::newRow("COM3") << "COM3" << 3;
        QTest::newRow("any case") << "cOm12" << 12;
        QTest::newRow("leading zeros") << "COM007" << 7;
        QTest::newRow("last") << "COM255" << 255;
        QTest::newRow("beyond the last") << "COM256" << 0;
        QTest::newRow("zero") << "COM0" << 0;
        QTest::newRow("four digits") << "COM0003" << 0;
        QTest::newRow("no digits") << "COM" << 0;
        QTest::newRow("trailing letter") << "COM3x" << 0;
        QTest::newRow("leading blank") << " COM3" << 0;
        QTest::newRow("sign") << "COM-1" << 0;
        QTest::newRow("full-width digit") << "COM１" << 0;
        QTest::newRow("device") << "/dev/ttyUSB0" << 0;
    }

    void strictReading()
    {
        QFETCH(QString, text);
        QFETCH(int, expected);
        QCOMPARE(parseComName(text).value_or(0), expected);
        const PortTarget target = resolvePort(text); // reported by its one spelling
        QCOMPARE(target.com, expected);
        QVERIFY(expected == 0 || target.name == QStringLiteral("COM%1").arg(expected));
    }

    void everyNameReadsBack()
    {
        for (int n = firstCom; n <= lastCom; ++n)
            QCOMPARE(parseComName(::comName(n)), std::optional<int>(n));
        QCOMPARE(comLinkPath(portsFolder("/cfg"), lastListedCom),
                 QStringLiteral("/cfg/ports/com16"));
    }

    void range_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("isRange");
        QTest::addColumn<QStringList>("names"); // empty: read, but not a valid range
        // clang-format off
        QTest::newRow("both named") << "COM1-COM3" << true << QStringList{"COM1", "COM2", "COM3"};
        QTest::newRow("second bare, any case") << "com7-8" << true << QStringList{"COM7", "COM8"};
        QTest::newRow("one port") << "COM5-COM5" << true << QStringList{"COM5"};
        QTest::newRow("up to the last") << "COM254-COM255" << true << QStringList{"COM254", "COM255"};
        QTest::newRow("reversed") << "COM8-COM1" << true << QStringList();
        QTest::newRow("from zero") << "COM0-COM3" << true << QStringList();
        QTest::newRow("beyond the last") << "COM1-COM256" << true << QStringList();
        QTest::newRow("four digits") << "COM1-COM1000" << false << QStringList();
        QTest::newRow("no second end") << "COM1-" << false << QStringList();
        QTest::newRow("first bare") << "1-8" << false << QStringList();
        QTest::newRow("one COM") << "COM1" << false << QStringList();
        // clang-format on
    }

    void range()
    {
        QFETCH(QString, text);
        const std::optional<ComRange> r = parseComRange(text);
        QTEST(r.has_value(), "isRange");
        QTEST(r && r->valid() ? r->names() : QStringList(), "names");
    }
};

QTEST_APPLESS_MAIN(TestPortName)
#include "tst_portname.moc"
