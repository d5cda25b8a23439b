// The download run against an in-memory serial component: every transition of a run, the
// ends with their texts and beeps, the image transfer, and the events that nest inside a
// tick's or an alarm's event pumping.
#include "downloader.h"
#include "fakerunview.h"
#include "fakes.h"
#include "fakeserial.h"
#include "imagebuffer.h"
#include "protocol.h"

#include <QTest>

#include <climits>

using Protocol::Reply;

namespace
{

QByteArray imageBytes(int length)
{
    QByteArray data(length, '\0');
    for (int i = 0; i < length; ++i)
        data[i] = char((i * 7 + i / 1024) & 0xFF);
    return data;
}

QStringList sent(const QString &hex)
{
    return {QStringLiteral("Output=") + hex, QStringLiteral("InBufferCount=0")};
}

const QString openSettings = QStringLiteral("Settings=115200,n,8,1");

QStringList startLog()
{
    return {openSettings, "InBufferCount=0", "PortOpen=1",      "caption=停 止", "ALL_KEY=0",
            "Command1=1", "width=0",         "status=连接中……", "beep"};
}

QStringList stopLog()
{
    return {"caption=单次下载", "PortOpen=0", "ALL_KEY=1", "beep"};
}

QStringList successLog()
{
    return {"status=       下载成功", "ALL_KEY=1", "caption=单次下载", "PortOpen=0"};
}

QStringList failureLog(bool connection, int top = 300)
{
    const QString word = connection ? QStringLiteral("连接失败") : QStringLiteral("下载失败");
    QStringList log{"status=" + word, "panel=    " + word + "   | 请检查硬件连接",
                    QStringLiteral("panelTop=%1").arg(top), "panelVisible=1"};
    for (int i = 0; i < 5; ++i)
        log << "beep"
            << "delay=200";
    log << "panelVisible=0"
        << "caption=单次下载"
        << "PortOpen=0"
        << "ALL_KEY=1";
    return log;
}

QStringList lengthFrame(const QString &field)
{
    return sent("B1 B2 B3") + QStringList{"Output=" + field} + sent("1B 2B 3B");
}

QStringList block(int bytes, int percent, int width)
{
    return {QStringLiteral("Output=<%1 bytes>").arg(bytes),
            QStringLiteral("status=下载进度：%1%").arg(percent),
            QStringLiteral("width=%1").arg(width)};
}

// The window, the serial component and the platform of one run, all in memory.
struct Rig {
    FakePlatform fp;
    FakeSerial serial;
    ImageBuffer image;
    FakeRunView view{serial, fp.platform, serial.log};
    Downloader d{serial, image, fp.platform, view};

    Rig()
    {
        fp.pump.clock = &fp.clock;
        fp.pump.runQtEvents = false;
        fp.tone.onBeep = [this] { serial.log << QStringLiteral("beep"); };
        QObject::connect(&serial, &SerialComponent::OnComm, &serial,
                         [this] { d.MSComm1_OnComm(); });
    }

    void load(int length)
    {
        if (length > 0)
            image.replaceImage(imageBytes(length));
    }

    // Puts the run in a step as the earlier events would have left it.
    void arrange(int step, int tick, int blockNo = 0)
    {
        if (step > 0) {
            serial.setPortOpen(true);
            d.DOWN_ACTIVE = -1;
            view.caption = QStringLiteral("停 止");
        }
        if (step >= 2)
            image.LOAD_BIN();
        d.DOWN_STEP = qint16(step);
        d.TICK_COUNT = qint16(tick);
        d.BIN_BLOCK_NO = blockNo;
        serial.log.clear();
        serial.wire.clear();
    }

    void reply(Reply r) { serial.receive(Protocol::replyBytes(r)); }

    void apply(const QString &event)
    {
        if (event == u"click")
            d.Command1_Click();
        else if (event == u"tick")
            d.Timer1_Timer();
        else
            reply(Reply(0xA + event.at(0).unicode() - u'A'));
    }

    bool idleAfterEnd() const
    {
        return d.DOWN_STEP == 0 && d.DOWN_ACTIVE == 0 && !serial.PortOpen() &&
               view.caption == QStringLiteral("单次下载") && view.controlsEnabled &&
               view.command1Enabled;
    }
};

} // namespace

class TestDownloader : public QObject
{
    Q_OBJECT
private slots:
    void init() { qputenv("XDG_CONFIG_HOME", m_config.path().toLocal8Bit()); }

    void transitions_data();
    void transitions();
    void otherContentIsDropped_data();
    void otherContentIsDropped();
    void startOnBusyPort();
    void imageTransfer_data();
    void imageTransfer();
    void imageTheFieldCannotDescribe();
    void refusedTypedRate();
    void resetCycleAfterStop_data();
    void resetCycleAfterStop();

    void replyBInsideTailPump();
    void replyBInsideHeadPump();
    void stopInsideTickPump_data();
    void stopInsideTickPump();
    void stopThenStartInsideTickPump();
    void stopDuringAlarm();
    void stopThenStartDuringAlarm();

private:
    QTemporaryDir m_config;
};

// ---------------------------------------------------------------- every transition

void TestDownloader::transitions_data()
{
    QTest::addColumn<int>("step");
    QTest::addColumn<int>("tick");
    QTest::addColumn<int>("autoReset");
    QTest::addColumn<int>("length");
    QTest::addColumn<int>("blockNo");
    QTest::addColumn<QString>("event"); // click, tick, or the reply's letter
    QTest::addColumn<int>("toStep");
    QTest::addColumn<int>("toTick");
    QTest::addColumn<int>("toBlockNo");
    QTest::addColumn<QStringList>("log");

    const QStringList none;
    const QString reset =
        QStringLiteral("F1 F2 F3 F4 F5 E1 E2 E3 E4 E5 5D 4D 3D 2D 1D 5C 4C 3C 2C 1C");
    const QStringList resetTick = QStringList{"Settings=9600,n,8,1"} + sent(reset);
    const QStringList requestTick = QStringList{openSettings} + sent("44 4D 46");

    // clang-format off
    QTest::newRow("idle, click: start") << 0 << 9 << 0 << 1500 << 0 << "click" << 1 << 9 << 0 << startLog();
    for (int step = 1; step <= 4; ++step)
        QTest::addRow("step %d, click: stop", step) << step << 3 << 0 << 1500 << 0 << "click" << 0 << 3 << 0 << stopLog();
    QTest::newRow("idle, tick") << 0 << 4 << 1 << 1500 << 0 << "tick" << 0 << 4 << 0 << none;

    QTest::newRow("1 auto, count 0->1: reset request") << 1 << 0 << 1 << 1500 << 0 << "tick" << 1 << 1 << 0 << resetTick;
    QTest::newRow("1 auto, count 1->2: request") << 1 << 1 << 1 << 1500 << 0 << "tick" << 1 << 2 << 0 << requestTick;
    QTest::newRow("1 auto, count 4->5: request") << 1 << 4 << 1 << 1500 << 0 << "tick" << 1 << 5 << 0 << requestTick;
    QTest::newRow("1 auto, count 5->1: reset request") << 1 << 5 << 1 << 1500 << 0 << "tick" << 1 << 1 << 0 << resetTick;
    QTest::newRow("1 auto, count 40 left over -> 1") << 1 << 40 << 1 << 1500 << 0 << "tick" << 1 << 1 << 0 << resetTick;
    QTest::newRow("1 no auto, tick: request, count kept") << 1 << 7 << 0 << 1500 << 0 << "tick" << 1 << 7 << 0
        << sent("44 4D 46") + QStringList{"InBufferCount=0"};
    QTest::newRow("1, reply A") << 1 << 3 << 0 << 1500 << 0 << "A" << 2 << 0 << 0 << none;

    QTest::newRow("2, count 0->1: frame") << 2 << 0 << 0 << 1500 << 0 << "tick" << 2 << 1 << 0 << lengthFrame("00 01 01 DC");
    QTest::newRow("2, count 1->2") << 2 << 1 << 0 << 1500 << 0 << "tick" << 2 << 2 << 0 << none;
    QTest::newRow("2, count 4->5: frame") << 2 << 4 << 0 << 70000 << 0 << "tick" << 2 << 5 << 0 << lengthFrame("00 44 01 70");
    QTest::newRow("2, count 9->10: frame") << 2 << 9 << 0 << 2048 << 0 << "tick" << 2 << 10 << 0 << lengthFrame("00 02 00 00");
    QTest::newRow("2, count 49->50: frame") << 2 << 49 << 0 << 100 << 0 << "tick" << 2 << 50 << 0 << lengthFrame("00 00 00 64");
    QTest::newRow("2, count 52->53") << 2 << 52 << 0 << 1500 << 0 << "tick" << 2 << 53 << 0 << none;
    QTest::newRow("2, count 53->54: connection failure") << 2 << 53 << 0 << 1500 << 0 << "tick" << 0 << 0 << 0 << failureLog(true);
    QTest::newRow("2, reply B, more blocks") << 2 << 17 << 0 << 1500 << 9 << "B" << 3 << 0 << 0 << block(1024, 49, 4072);
    QTest::newRow("2, reply B, one block") << 2 << 17 << 0 << 100 << 9 << "B" << 4 << 0 << 0 << block(100, 99, 8145);

    QTest::newRow("3, count 0->1") << 3 << 0 << 0 << 1500 << 0 << "tick" << 3 << 1 << 0 << none;
    QTest::newRow("3, count 49->50") << 3 << 49 << 0 << 1500 << 0 << "tick" << 3 << 50 << 0 << none;
    QTest::newRow("3, count 50->51: download failure") << 3 << 50 << 0 << 1500 << 0 << "tick" << 0 << 0 << 0 << failureLog(false);
    QTest::newRow("3, reply C, more blocks") << 3 << 30 << 0 << 70000 << 0 << "C" << 3 << 0 << 1 << block(1024, 1, 236);
    QTest::newRow("3, reply C, last block") << 3 << 30 << 0 << 1500 << 0 << "C" << 4 << 0 << 1 << block(476, 99, 8145);
    QTest::newRow("3, reply C, last whole block") << 3 << 30 << 0 << 2048 << 0 << "C" << 4 << 0 << 1 << block(1024, 99, 8145);

    QTest::newRow("4, tick") << 4 << 12 << 1 << 1500 << 1 << "tick" << 4 << 12 << 1 << none;
    QTest::newRow("4, reply D: success") << 4 << 12 << 0 << 1500 << 1 << "D" << 0 << 0 << 1 << successLog();
    // clang-format on
}

void TestDownloader::transitions()
{
    QFETCH(int, step);
    QFETCH(int, tick);
    QFETCH(int, autoReset);
    QFETCH(int, length);
    QFETCH(int, blockNo);
    QFETCH(QString, event);

    Rig rig;
    rig.load(length);
    rig.view.AUTO_RESET = qint16(autoReset);
    rig.arrange(step, tick, blockNo);
    rig.apply(event);

    QTEST(int(rig.d.DOWN_STEP), "toStep");
    QTEST(int(rig.d.TICK_COUNT), "toTick");
    QTEST(int(rig.d.BIN_BLOCK_NO), "toBlockNo");
    QTEST(rig.serial.log, "log");
    QFETCH(int, toStep);
    QCOMPARE(rig.d.DOWN_ACTIVE, qint16(toStep ? -1 : 0));
    QCOMPARE(rig.serial.PortOpen(), toStep != 0);
    if (toStep >= 2) // the split belongs to the image being sent
        QCOMPARE(rig.image.BIN_BLOCKS * 1024 + rig.image.BIN_REMAIN, length);
    if (toStep == 0 && step != 0)
        QVERIFY(rig.idleAfterEnd());
    for (const auto &beep : rig.fp.tone.beeps)
        QVERIFY(beep.hz == 5000 && beep.ms == 200);
}

void TestDownloader::otherContentIsDropped_data()
{
    QTest::addColumn<int>("step");
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<int>("event");

    const char *letters = "ABCD";
    for (int step = 0; step <= 4; ++step) {
        for (int i = 0; i < 4; ++i) {
            if (i + 1 != step)
                QTest::addRow("step %d, reply %c", step, letters[i])
                    << step << Protocol::replyBytes(Reply(0xA + i)) << CommEventCode::Receive;
        }
        if (step == 0)
            continue;
        const QByteArray own = Protocol::replyBytes(Reply(0xA + step - 1));
        // A read emptied to fewer than five bytes, a stray byte before the reply, and the
        // step's own reply announced by an event that is not "data received".
        QTest::addRow("step %d, four bytes of its reply", step) << step << own.left(4) << 2;
        QTest::addRow("step %d, stray byte first", step)
            << step << QByteArray(1, '\0') + own.left(4) << 2;
        QTest::addRow("step %d, other event", step) << step << own << 1;
    }
}

void TestDownloader::otherContentIsDropped()
{
    QFETCH(int, step);
    QFETCH(QByteArray, bytes);
    QFETCH(int, event);

    Rig rig;
    rig.load(1500);
    rig.arrange(step, 17, 0);
    rig.serial.setPortOpen(true); // idle with the port open: during a failure alarm
    rig.serial.log.clear();
    rig.serial.receive(bytes, event);

    QCOMPARE(int(rig.d.DOWN_STEP), step);
    QCOMPARE(int(rig.d.TICK_COUNT), 17); // not reset by content that does not match
    QCOMPARE(rig.d.BIN_BLOCK_NO, 0);
    QVERIFY(rig.serial.log.isEmpty());
    QCOMPARE(rig.serial.reads, event == CommEventCode::Receive ? 1 : 0); // read and dropped
}

void TestDownloader::startOnBusyPort()
{
    Rig rig;
    rig.load(1500);
    rig.serial.openError = CommErrorNumber::PortInUse;
    rig.d.Command1_Click();
    QCOMPARE(rig.serial.log, (QStringList{openSettings, "InBufferCount=0", "beep"}));
    QCOMPARE(rig.fp.dialogs.messages.size(), 1);
    QCOMPARE(rig.fp.dialogs.messages[0].text,
             QStringLiteral("COM1已被其它程序打开，请选择其它串口！"));
    QCOMPARE(rig.d.DOWN_ACTIVE, qint16(0));
    QCOMPARE(rig.d.DOWN_STEP, qint16(0));
    QCOMPARE(rig.view.caption, QStringLiteral("单次下载"));
}

// ---------------------------------------------------------------- image transfer

void TestDownloader::imageTransfer_data()
{
    QTest::addColumn<int>("length");
    QTest::addColumn<int>("n");
    QTest::addColumn<int>("offset"); // of the bytes written; -1: nothing written
    QTest::addColumn<int>("bytes");
    QTest::addColumn<int>("toStep");
    QTest::addColumn<QString>("status");
    QTest::addColumn<int>("width");

    const QString same = QStringLiteral("(unchanged)");
    // clang-format off
    QTest::newRow("100, n=0") << 100 << 0 << 0 << 100 << 4 << "下载进度：99%" << 8145;
    QTest::newRow("1500, n=0") << 1500 << 0 << 0 << 1024 << 3 << "下载进度：49%" << 4072;
    QTest::newRow("1500, n=1") << 1500 << 1 << 1024 << 476 << 4 << "下载进度：99%" << 8145;
    QTest::newRow("2048, n=0") << 2048 << 0 << 0 << 1024 << 3 << "下载进度：49%" << 4072;
    QTest::newRow("2048, n=1") << 2048 << 1 << 1024 << 1024 << 4 << "下载进度：99%" << 8145;
    QTest::newRow("70000, n=0") << 70000 << 0 << 0 << 1024 << 3 << "下载进度：0%" << 118;
    QTest::newRow("70000, n=68") << 70000 << 68 << 69632 << 368 << 4 << "下载进度：99%" << 8145;
    QTest::newRow("2048, n=2") << 2048 << 2 << -1 << 0 << 3 << same << 777;
    QTest::newRow("1500, n=2") << 1500 << 2 << -1 << 0 << 3 << same << 777;
    QTest::newRow("1500, n=-1") << 1500 << -1 << -1 << 0 << 3 << same << 777;
    QTest::newRow("1500, n=max") << 1500 << INT_MAX << -1 << 0 << 3 << same << 777;
    QTest::newRow("no image, n=0") << 0 << 0 << -1 << 0 << 3 << same << 777;
    // clang-format on
}

void TestDownloader::imageTransfer()
{
    QFETCH(int, length);
    QFETCH(int, n);
    QFETCH(int, offset);
    QFETCH(int, bytes);

    Rig rig;
    rig.load(length);
    rig.arrange(3, 0);
    rig.view.status = QStringLiteral("(unchanged)");
    rig.view.width = 777;
    rig.d.DOWN_LOAD_BIN(n);

    if (offset < 0)
        QVERIFY(rig.serial.log.isEmpty());
    else
        QCOMPARE(rig.serial.wire, imageBytes(length).mid(offset, bytes));
    QTEST(int(rig.d.DOWN_STEP), "toStep");
    QTEST(rig.view.status, "status");
    QTEST(rig.view.width, "width");
}

void TestDownloader::imageTheFieldCannotDescribe()
{
    // 64 MiB: 65536 whole blocks do not fit the 16-bit count. No part of the frame goes out,
    // so the board is never told a wrong length; the run ends in the connection failure.
    Rig rig;
    rig.image.BIN_LEN = 64 * 1024 * 1024;
    rig.arrange(2, 0);
    rig.d.SEND_BIN_LEN();
    for (int i = 0; i < 53; ++i)
        rig.d.Timer1_Timer();
    QVERIFY(rig.serial.log.isEmpty());
    rig.d.Timer1_Timer();
    QCOMPARE(rig.serial.log, failureLog(true));
}

void TestDownloader::refusedTypedRate()
{
    // A rate typed into a box that the port refuses: that tick sends nothing; the others go on.
    Rig rig;
    rig.load(1500);
    rig.view.AUTO_RESET = 1;
    rig.view.resetBaud = QStringLiteral("12x");
    rig.serial.refusedSettings << QStringLiteral("12x,n,8,1");
    rig.arrange(1, 0);
    rig.d.Timer1_Timer(); // count 1: the reset request at the refused rate
    QVERIFY(rig.serial.log.isEmpty());
    rig.d.Timer1_Timer(); // count 2: the download request
    QCOMPARE(rig.serial.log, QStringList{openSettings} + sent("44 4D 46"));
    QCOMPARE(rig.d.DOWN_STEP, qint16(1));
}

void TestDownloader::resetCycleAfterStop_data()
{
    QTest::addColumn<int>("leftOver");  // TICK_COUNT as the stopped run left it
    QTest::addColumn<int>("resetTick"); // the tick of the new run that sends the reset request
    QTest::newRow("0") << 0 << 1;
    QTest::newRow("1") << 1 << 5;
    QTest::newRow("3") << 3 << 3;
    QTest::newRow("4") << 4 << 2;
    QTest::newRow("5") << 5 << 1;
    QTest::newRow("37 (step 2)") << 37 << 1;
}

void TestDownloader::resetCycleAfterStop()
{
    QFETCH(int, leftOver);
    QFETCH(int, resetTick);
    Rig rig;
    rig.load(1500);
    rig.view.AUTO_RESET = 1;
    rig.arrange(2, leftOver);
    rig.d.Command1_Click(); // stop
    rig.d.Command1_Click(); // start again
    QCOMPARE(int(rig.d.TICK_COUNT), leftOver);
    QStringList settings;
    for (int i = 1; i <= 5; ++i) {
        rig.serial.log.clear();
        rig.d.Timer1_Timer();
        // The rate is set on every tick, also when it does not change.
        settings << rig.serial.log.first();
        QCOMPARE(rig.serial.log.at(1).startsWith("Output=F1"), i == resetTick);
    }
    QCOMPARE(settings.count("Settings=9600,n,8,1"), 1);
    QCOMPARE(settings.count(openSettings), 4);
}

// ---------------------------------------------------------------- nesting

void TestDownloader::replyBInsideTailPump()
{
    Rig rig;
    rig.load(1500);
    rig.arrange(2, 4);
    int pumps = 0;
    rig.fp.pump.hook = [&] {
        if (++pumps == 2)
            rig.reply(Reply::B);
    };
    rig.d.Timer1_Timer();
    QCOMPARE(rig.serial.log, lengthFrame("00 01 01 DC") + block(1024, 49, 4072));
    QCOMPARE(rig.d.DOWN_STEP, qint16(3));
    QCOMPARE(rig.d.TICK_COUNT, qint16(0)); // the tick goes on with the count as B left it
}

void TestDownloader::replyBInsideHeadPump()
{
    // Reply B to an earlier frame, handled while this tick's head is pumping, sends block 0 at
    // once; the rest of the frame must not follow it into the image.
    Rig rig;
    rig.load(1500);
    rig.arrange(2, 9);
    int pumps = 0;
    rig.fp.pump.hook = [&] {
        if (++pumps == 1)
            rig.reply(Reply::B);
    };
    rig.d.Timer1_Timer();
    QCOMPARE(rig.serial.log, sent("B1 B2 B3") + block(1024, 49, 4072));
    QCOMPARE(rig.serial.wire, QByteArray::fromHex("B1B2B3") + imageBytes(1024));
    QCOMPARE(rig.d.DOWN_STEP, qint16(3));
}

void TestDownloader::stopInsideTickPump_data()
{
    QTest::addColumn<int>("step");
    QTest::addColumn<int>("autoReset");
    QTest::addColumn<int>("tick");
    QTest::addColumn<int>("pump"); // the pump of the tick that the click lands in
    QTest::addColumn<QStringList>("before");
    QTest::newRow("1, request") << 1 << 0 << 0 << 1 << sent("44 4D 46");
    QTest::newRow("1 auto, reset request")
        << 1 << 1 << 0 << 1
        << QStringList{"Settings=9600,n,8,1"} +
               sent("F1 F2 F3 F4 F5 E1 E2 E3 E4 E5 5D 4D 3D 2D 1D 5C 4C 3C 2C 1C");
    QTest::newRow("2, head") << 2 << 0 << 0 << 1 << sent("B1 B2 B3");
    QTest::newRow("2, tail") << 2 << 0 << 4 << 2 << lengthFrame("00 01 01 DC");
}

void TestDownloader::stopInsideTickPump()
{
    QFETCH(int, step);
    QFETCH(int, autoReset);
    QFETCH(int, tick);
    QFETCH(int, pump);
    QFETCH(QStringList, before);
    Rig rig;
    rig.load(1500);
    rig.view.AUTO_RESET = qint16(autoReset);
    rig.arrange(step, tick);
    int pumps = 0;
    rig.fp.pump.hook = [&] {
        if (++pumps == pump)
            rig.d.Command1_Click();
    };
    rig.d.Timer1_Timer();
    // What the tick had left to do on the closed port writes nothing and shows nothing.
    const QStringList after = rig.serial.log.mid(before.size() + stopLog().size());
    QCOMPARE(rig.serial.log.mid(0, before.size() + stopLog().size()), before + stopLog());
    QVERIFY2(after.isEmpty() || after == QStringList{"InBufferCount=0"},
             qPrintable(after.join(", ")));
    QVERIFY(rig.idleAfterEnd());
}

void TestDownloader::stopThenStartInsideTickPump()
{
    Rig rig;
    rig.load(1500);
    rig.arrange(2, 0);
    int pumps = 0;
    rig.fp.pump.hook = [&] {
        if (++pumps == 1) {
            rig.d.Command1_Click();
            rig.d.Command1_Click();
        }
    };
    rig.d.Timer1_Timer();
    // The old tick's field and tail stay off the new run's line.
    QCOMPARE(rig.serial.log, sent("B1 B2 B3") + stopLog() + startLog());
    QCOMPARE(rig.d.DOWN_STEP, qint16(1));
    QCOMPARE(rig.d.TICK_COUNT, qint16(1));
}

void TestDownloader::stopDuringAlarm()
{
    Rig rig;
    rig.load(1500);
    rig.arrange(2, 53);
    int delays = 0;
    rig.fp.pump.hook = [&] {
        if (++delays == 2) {
            rig.d.Command1_Click();
            QVERIFY(!rig.serial.PortOpen());
            QVERIFY(rig.view.controlsEnabled);
        }
    };
    rig.d.Timer1_Timer();
    // The stop lands in the second delay; the end's own close then finds the port closed.
    QStringList expected = failureLog(true);
    expected.removeAt(expected.lastIndexOf("PortOpen=0"));
    int at = expected.indexOf("delay=200") + 3;
    for (const QString &entry : stopLog())
        expected.insert(at++, entry);
    QCOMPARE(rig.serial.log, expected);
    QCOMPARE(rig.fp.tone.beeps.size(), 6);
    QVERIFY(rig.idleAfterEnd());
}

void TestDownloader::stopThenStartDuringAlarm()
{
    Rig rig;
    rig.load(1500);
    rig.arrange(3, 50);
    int delays = 0;
    rig.fp.pump.hook = [&] {
        if (++delays == 3) {
            rig.d.Command1_Click();
            rig.d.Command1_Click();
        }
    };
    rig.d.Timer1_Timer();
    // The new run keeps its port, its stop button and the lock.
    QVERIFY(!rig.view.panelVisible);
    QCOMPARE(rig.d.DOWN_ACTIVE, qint16(-1));
    QCOMPARE(rig.d.DOWN_STEP, qint16(1));
    QVERIFY(rig.serial.PortOpen());
    QCOMPARE(rig.view.caption, QStringLiteral("停 止"));
    QVERIFY(!rig.view.controlsEnabled);
    QVERIFY(rig.view.command1Enabled);
    QCOMPARE(rig.serial.log.count("PortOpen=0"), 1);
    QCOMPARE(rig.serial.log.last(), QStringLiteral("panelVisible=0"));
}

QTEST_GUILESS_MAIN(TestDownloader)
#include "tst_downloader.moc"
