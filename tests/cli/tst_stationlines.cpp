// The station's lines on a terminal, as the operator reads them, at any width.
#include "stationlines.h"

#include <QtTest>

namespace
{

Socket socket(const QString &port, Socket::State state, int passed, int failed)
{
    Socket s;
    s.port = port;
    s.state = state;
    s.passed = passed;
    s.failed = failed;
    s.bytes = 30000;
    return s;
}

// A tray in every state: passed, failed (no answer), flashing at 42 %, pulled out after a pass,
// cut short by a stop.
QList<Socket> tray()
{
    using State = Socket::State;
    QList<Socket> sockets{socket("COM1", State::Passed, 3, 0), socket("COM2", State::Failed, 2, 1),
                          socket("COM3", State::Flashing, 1, 0),
                          socket("COM4", State::Waiting, 1, 0),
                          socket("COM12", State::Interrupted, 0, 0)};
    sockets[0].ran = sockets[1].ran = sockets[3].ran = true;
    sockets[1].ending = Ending::NoAnswer;
    sockets[2].step = 3;
    sockets[2].bytesSent = 12600;
    return sockets;
}

StationTotals totals()
{
    StationTotals t;
    t.passed = 3;
    t.failed = 1;
    t.interrupted = 1;
    t.elapsedMs = 3723'000; // 1:02:03
    return t;
}

} // namespace

class TestStationLines : public QObject
{
    Q_OBJECT
private slots:
    void trayAtNormalWidth()
    {
        QCOMPARE(stationLines(tray(), totals(), 79),
                 QStringList({
                     "COM1   passed                                           3 passed, 0 failed",
                     "COM2   failed: no answer                                2 passed, 1 failed",
                     "COM3   flashing blocks      42% [########............]  1 passed, 0 failed",
                     "COM4   waiting, last: passed                            1 passed, 0 failed",
                     "COM12  interrupted                                      0 passed, 0 failed",
                     "total: 3 passed, 1 failed, 1 interrupted; 3 boards per hour; running 1:02:03",
                 }));
    }

    // Narrower, the bar goes first, then the reason, then the counts; no line is ever wider, and
    // each starts with as much of its port's name as fits.
    void widths_data()
    {
        QTest::addColumn<int>("width");
        QTest::addColumn<QStringList>("shown"); // on COM2's and COM3's lines
        QTest::addColumn<QStringList>("gone");
        const QStringList all{"[####", "no answer", "1 failed"};
        // clang-format off
        QTest::newRow("200") << 200 << all << QStringList{};
        QTest::newRow("64: a shorter bar") << 64 << QStringList{"[####.", "no answer", "1 failed"} << QStringList{"[#####"};
        QTest::newRow("52: no bar") << 52 << QStringList{"42%", "no answer", "1 failed"} << QStringList{"["};
        QTest::newRow("40: the reason without counts") << 40 << QStringList{"42%", "no answer"} << QStringList{"[", "passed,"};
        QTest::newRow("20: cut") << 20 << QStringList{"COM2   failed|", "COM3   flashing bloc"} << QStringList{"no"};
        QTest::newRow("8") << 8 << QStringList{"COM3   f"} << QStringList{"fl"};
        QTest::newRow("3") << 3 << QStringList{"COM"} << QStringList{"COM1"};
        QTest::newRow("0") << 0 << QStringList{} << QStringList{"C"};
        QTest::newRow("negative") << -5 << QStringList{} << QStringList{"C"};
        // clang-format on
    }
    void widths()
    {
        QFETCH(int, width);
        QFETCH(QStringList, shown);
        QFETCH(QStringList, gone);
        const QList<Socket> sockets = tray();
        const QStringList lines = stationLines(sockets, totals(), width);
        QCOMPARE(lines.size(), sockets.size() + 1);
        for (qsizetype i = 0; i < lines.size(); ++i) {
            QVERIFY2(lines[i].size() <= qMax(0, width), qPrintable(lines[i]));
            if (i < sockets.size())
                QVERIFY(lines[i].startsWith(sockets[i].port.left(qMax(0, width))));
        }
        const QString both = lines[1] + u'|' + lines[2];
        for (const QString &part : shown)
            QVERIFY2(both.contains(part), qPrintable(both));
        for (const QString &part : gone)
            QVERIFY2(!both.contains(part), qPrintable(both));
        QVERIFY(lines.last().startsWith(QStringLiteral("3 passed").left(qMax(0, width))) ||
                lines.last().startsWith(QStringLiteral("total: 3 passed")));
    }

    // A pulled board's port keeps the last result; names are escaped and measured in columns.
    void portWords_data()
    {
        QTest::addColumn<QString>("port");
        QTest::addColumn<int>("ending"); // of the last run, the port waiting again
        QTest::addColumn<int>("width");
        QTest::addColumn<QString>("line");
        // clang-format off
        QTest::newRow("last failed") << "COM7" << int(Ending::PortVanished) << 79 << "COM7  waiting, last: failed, port vanished             0 passed, 1 failed";
        QTest::newRow("last failed, no reason") << "COM7" << int(Ending::NoCompletion) << 60 << "COM7  waiting, last: failed     0 passed, 1 failed";
        QTest::newRow("last failed, narrow") << "COM7" << int(Ending::NoCompletion) << 38 << "COM7  waiting, last: failed";
        QTest::newRow("last failed, reason without counts") << "COM7" << int(Ending::NoCompletion) << 48 << "COM7  waiting, last: failed, no completion reply";
        QTest::newRow("escape and CSI") << QString("COM\x1b[2J") + QChar(0x9b) + '1' << int(Ending::Success) << 79 << "COM\\x1b[2J\\x9b1  waiting, last: passed                  1 passed, 0 failed";
        QTest::newRow("wide characters") << "串口七号" << int(Ending::Success) << 11 << "串口七号  w";
        QTest::newRow("wide, cut between") << "串口七号" << int(Ending::Success) << 5 << "串口";
        QTest::newRow("beyond the plane") << "\U0001F50C\U0001F50C" << int(Ending::Success) << 3 << "\U0001F50C";
        // clang-format on
    }
    void portWords()
    {
        QFETCH(QString, port);
        QFETCH(int, ending);
        QFETCH(int, width);
        QFETCH(QString, line);
        Socket s = socket(port, Socket::State::Waiting, 0, 0);
        s.ran = true;
        s.ending = Ending(ending);
        (s.ending == Ending::Success ? s.passed : s.failed) = 1;
        QCOMPARE(stationLines({s}, {}, width).first(), line);
    }
};

QTEST_GUILESS_MAIN(TestStationLines)
#include "tst_stationlines.moc"
