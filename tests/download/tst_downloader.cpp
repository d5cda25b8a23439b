// A download run against an in-memory serial component and window: each transition with its
// effects in order, and the events that nest inside a tick's or the alarm's event pumping.
#include "downloader.h"
#include "fakerunview.h"
#include "fakes.h"
#include "fakeserial.h"
#include "imagebuffer.h"
#include "wire.h"

#include <QTest>

// A run put in a step as earlier events would have left it. apply() plays "click", "tick",
// "tickN" (N ticks), a reply's letter, "A4" its first four bytes, "0A" a stray byte and those
// four, "A!" the reply with another event; "auto", "preview", "busy" set the options and port.
struct Rig {
    FakePlatform fp;
    FakeSerial serial;
    ImageBuffer image;
    FakeRunView view{serial, fp.platform, serial.log};
    Downloader d{serial, image, fp.platform, view};

    Rig(QList<int> at, const QString &events) // length, step, tick, block number
    {
        fp.pump.runQtEvents = false;
        fp.tone.onBeep = [this] { serial.log << "beep"; };
        QObject::connect(&serial, &SerialComponent::OnComm, [this] { d.MSComm1_OnComm(); });
        image.BIN_DATA = testImage(at[0] < 64 << 20 ? at[0] : 0);
        image.BIN_LEN = at[0];
        view.AUTO_RESET = events.contains("auto");
        view.PREVIEW_BIN = events.contains("preview");
        serial.openError = events.contains("busy") ? CommErrorNumber::PortInUse : 0;
        serial.setPortOpen(at[1] > 0 || events.size() <= 2); // idle and open: during an alarm
        d.DOWN_ACTIVE = at[1] > 0 ? -1 : 0;
        if (at[1] >= 2)
            image.LOAD_BIN();
        d.DOWN_STEP = qint16(at[1]);
        d.TICK_COUNT = qint16(at[2]);
        d.BIN_BLOCK_NO = at[3];
        serial.log.clear();
    }

    void apply(const QString &events)
    {
        for (const QString &e : events.split(' ')) {
            if (e == "click")
                d.Command1_Click();
            for (int i = e.startsWith("tick") ? qMax(1, e.mid(4).toInt()) : 0; i > 0; --i)
                d.Timer1_Timer();
            if (e.size() > 2)
                continue;
            const bool stray = e[0] == '0';
            const QByteArray r = reply(e[stray].toLatin1());
            serial.receive(stray             ? '\0' + r.left(4)
                           : e.endsWith('4') ? r.left(4)
                                             : r,
                           e.endsWith('!') ? CommEventCode::None : CommEventCode::Receive);
        }
    }

    static QStringList sent(const QString &hex) { return {"Output=" + hex, "InBufferCount=0"}; }
    static QStringList frame(const QString &field)
    {
        return sent("B1 B2 B3") + QStringList{"Output=" + field} + sent("1B 2B 3B");
    }
    static QStringList block(int bytes, int percent, int width)
    {
        const QString log = QStringLiteral("Output=<%1 bytes>|status=下载进度：%2%|width=%3");
        return log.arg(bytes).arg(percent).arg(width).split('|');
    }
    static QStringList failure(const QString &word, int top = 300)
    {
        const QString log =
            "status=%1|panel=    %1   / 请检查硬件连接|panelTop=%2|panelVisible=true|" +
            QString("beep|delay=200|").repeated(5) +
            "panelVisible=false|caption=单次下载|PortOpen=0|ALL_KEY=true";
        return log.arg(word).arg(top).split('|');
    }
};

class TestDownloader : public QObject
{
    Q_OBJECT
private slots:
    void init() { qputenv("XDG_CONFIG_HOME", m_config.path().toLocal8Bit()); }
    void transitions_data()
    {
        QTest::addColumn<QList<int>>("at"); // image length, step, tick count, block number
        QTest::addColumn<QString>("events");
        QTest::addColumn<QString>("nested"); // "N events": events inside the N-th event pumping
        QTest::addColumn<int>("toStep");
        QTest::addColumn<int>("toTick");
        QTest::addColumn<QStringList>("log");
        const auto row = [](const QString &name, QList<int> at, const QString &events, int toStep,
                            int toTick, const QStringList &log, const char *nested = "0") {
            QTest::newRow(qPrintable(name))
                << at << events << QString(nested) << toStep << toTick << log;
        };
        using R = Rig;
        const QStringList none, conn = R::failure("连接失败"), down = R::failure("下载失败");
        const QStringList stop =
            QString("caption=单次下载|PortOpen=0|ALL_KEY=true|beep").split('|');
        QStringList stopInAlarm = conn.mid(0, 8) + stop + conn.mid(8); // in the 2nd delay
        stopInAlarm.removeAt(stopInAlarm.lastIndexOf("PortOpen=0"));   // closed already
        const QString resetHex("F1 F2 F3 F4 F5 E1 E2 E3 E4 E5 5D 4D 3D 2D 1D 5C 4C 3C 2C 1C");
        const auto cycle = [&](const char *ticks) { // R: a reset request, D: a download request
            QStringList log;
            for (const char *t = ticks; *t; ++t)
                log += QStringList{*t == 'R' ? "Settings=9600,n,8,1" : "Settings=115200,n,8,1"} +
                       R::sent(*t == 'R' ? resetHex : "44 4D 46");
            return log;
        };
        // clang-format off
        const QStringList start = QString("Settings=115200,n,8,1|PortOpen=1|caption=停 止|ALL_KEY=false|Command1=true|width=0|status=连接中……|beep").split('|');
        row("0 click: start", {1500, 0, 9, 0}, "click", 1, 9, start);
        row("0 click, port busy: beep only", {1500, 0, 9, 0}, "click busy", 0, 9, {"Settings=115200,n,8,1", "beep"});
        for (int step = 1; step <= 4; ++step)
            row(QStringLiteral("%1 click: stop").arg(step), {1500, step, 3, 0}, "click", 0, 3, stop);
        row("0 tick", {1500, 0, 4, 0}, "tick auto", 0, 4, none);
        row("1 tick, auto reset", {1500, 1, 0, 0}, "tick auto", 1, 1, cycle("R"));
        row("1 tick", {1500, 1, 7, 0}, "tick", 1, 7, R::sent("44 4D 46") + QStringList{"InBufferCount=0"});
        // The count of a stopped run carries over: the cycle reaches the reset request within five ticks.
        row("stop, start, 10 ticks, auto reset", {1500, 2, 3, 0}, "auto click click tick10", 1, 3, stop + start + cycle("DDRDDDDRDD"));
        row("stop, start, 10 ticks, auto reset, count 37", {1500, 2, 37, 0}, "auto click click tick10", 1, 5, stop + start + cycle("RDDDDRDDDD"));
        row("1 A", {1500, 1, 3, 0}, "A", 2, 0, none);
        row("2 tick 1: frame", {1500, 2, 0, 0}, "tick", 2, 1, R::frame("00 01 01 DC"));
        row("2 tick 1, 64 MiB: no frame", {64 << 20, 2, 0, 0}, "tick", 2, 1, none);
        row("2 tick 2", {1500, 2, 1, 0}, "tick", 2, 2, none);
        row("2 tick 5: frame", {70000, 2, 4, 0}, "tick", 2, 5, R::frame("00 44 01 70"));
        row("2 tick 10: frame", {2048, 2, 9, 0}, "tick", 2, 10, R::frame("00 02 00 00"));
        row("2 tick 50: frame", {100, 2, 49, 0}, "tick", 2, 50, R::frame("00 00 00 64"));
        row("2 tick 53", {1500, 2, 52, 0}, "tick", 2, 53, none);
        row("2 tick 54: connection failure", {1500, 2, 53, 0}, "tick", 0, 0, conn);
        row("2 tick 54, preview on", {1500, 2, 53, 0}, "tick preview", 0, 0, R::failure("连接失败", 1800));
        row("2 B: block 0 of 2", {1500, 2, 17, 9}, "B", 3, 0, R::block(1024, 49, 4072));
        row("2 B: block 0 of 69", {70000, 2, 17, 9}, "B", 3, 0, R::block(1024, 0, 118));
        row("2 B: the only block", {100, 2, 17, 9}, "B", 4, 0, R::block(100, 99, 8145));
        row("2 B: no image", {0, 2, 17, 9}, "B", 3, 0, none);
        row("3 tick 50", {1500, 3, 49, 0}, "tick", 3, 50, none);
        row("3 tick 51: download failure", {1500, 3, 50, 0}, "tick", 0, 0, down);
        row("3 C: block 1 of 69", {70000, 3, 30, 0}, "C", 3, 0, R::block(1024, 1, 236));
        row("3 C: last, partial", {1500, 3, 30, 0}, "C", 4, 0, R::block(476, 99, 8145));
        row("3 C: last, whole", {2048, 3, 30, 0}, "C", 4, 0, R::block(1024, 99, 8145));
        row("3 C: last of 69", {70000, 3, 30, 67}, "C", 4, 0, R::block(368, 99, 8145));
        row("3 C: beyond the last", {2048, 3, 30, 1}, "C", 3, 0, none);
        row("4 tick", {1500, 4, 12, 1}, "tick auto", 4, 12, none);
        row("4 D: success", {1500, 4, 12, 1}, "D", 0, 0, QString("status=       下载成功|ALL_KEY=true|caption=单次下载|PortOpen=0").split('|'));
        for (int step = 0; step <= 4; ++step) // other steps' replies, and the step's own spoilt
            for (char letter : QByteArray("ABCD"))
                for (QString e : {"L", "L4", "0L", "L!"})
                    if ((e.replace('L', letter).size() == 1) != (letter == 'A' + step - 1))
                        row(QStringLiteral("%1 %2: dropped").arg(step).arg(e), {1500, step, 17, 0}, e, step, 17, none);

        row("B in the head's pump", {1500, 2, 9, 0}, "tick", 3, 0, R::sent("B1 B2 B3") + R::block(1024, 49, 4072), "1 B");
        row("B in the tail's pump", {1500, 2, 4, 0}, "tick", 3, 0, R::frame("00 01 01 DC") + R::block(1024, 49, 4072), "2 B");
        row("stop in the request's pump", {1500, 1, 0, 0}, "tick", 0, 0, R::sent("44 4D 46") + stop, "1 click");
        row("stop in the head's pump", {1500, 2, 0, 0}, "tick", 0, 1, R::sent("B1 B2 B3") + stop, "1 click");
        row("stop in the tail's pump", {1500, 2, 4, 0}, "tick", 0, 5, R::frame("00 01 01 DC") + stop, "2 click");
        row("stop, start in the head's pump", {1500, 2, 0, 0}, "tick", 1, 1, R::sent("B1 B2 B3") + stop + start, "1 click click");
        row("stop in the alarm", {1500, 2, 53, 0}, "tick", 0, 0, stopInAlarm, "2 click");
        // A run started during the alarm keeps its port, its stop button and the lock.
        row("stop, start in the alarm", {1500, 3, 50, 0}, "tick", 1, 0, down.mid(0, 10) + stop + start + down.mid(10, 5), "3 click click");
        // clang-format on
    }

    void transitions()
    {
        QFETCH(QList<int>, at);
        QFETCH(QString, events);
        QFETCH(QString, nested);
        QFETCH(int, toStep);
        Rig rig(at, events);
        int pumps = 0;
        rig.fp.pump.hook = [&] {
            if (++pumps == nested.section(' ', 0, 0).toInt())
                rig.apply(nested.section(' ', 1));
        };
        rig.apply(events);

        QTEST(rig.serial.log, "log");
        QCOMPARE(int(rig.d.DOWN_STEP), toStep);
        QTEST(int(rig.d.TICK_COUNT), "toTick");
        if (events.size() == 1 && !rig.serial.wire.isEmpty()) // the block that B or C asks for
            QCOMPARE(rig.serial.wire,
                     testImage(at[0]).mid(events == "B" ? 0 : (at[3] + 1) * 1024, 1024));
        if (toStep >= 2) // the split belongs to the image being sent
            QCOMPARE(rig.image.BIN_BLOCKS * 1024 + rig.image.BIN_REMAIN, at[0]);
        if (toStep != at[1]) // every end closes the port
            QCOMPARE(QPair(rig.serial.PortOpen(), int(rig.d.DOWN_ACTIVE)),
                     QPair(toStep != 0, -!!toStep));
        if (events.size() <= 2) // received bytes are read, also when they are dropped
            QCOMPARE(rig.serial.rx.isEmpty(), !events.endsWith('!'));
        QCOMPARE(rig.fp.dialogs.messages.size(), events.contains("busy") ? 1 : 0);
        for (const auto &beep : rig.fp.tone.beeps)
            QVERIFY(beep.hz == 5000 && beep.ms == 200);
    }

private:
    QTemporaryDir m_config;
};

QTEST_GUILESS_MAIN(TestDownloader)
#include "tst_downloader.moc"
