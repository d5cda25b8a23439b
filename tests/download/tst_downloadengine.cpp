// The download engine on a port in memory: each event's bytes and told events, also nested.
#include "downloadengine.h"
#include "fakeport.h"
#include "fakes.h"
#include "wire.h"

#include <QTest>

namespace
{

const char *const stepNames[] = {"idle", "connect", "length", "blocks", "completion"};
const char *const outcomeNames[] = {"success",         "no_answer",     "connection_failed",
                                    "download_failed", "no_completion", "port_lost",
                                    "stopped",         "interrupted"};

// A start opens the port, every end closes it; the port's and the engine's events in one log.
struct Rig {
    FakePlatform fp;
    FakePort port;
    DownloadEngine engine{fp.pump, fp.clock};
    DownloadRequest request;

    Rig(int length, const QString &options)
    {
        fp.pump.runQtEvents = false;
        engine.setSelfTicking(false);
        request.image = testImage(length);
        request.port = &port;
        request.downloadRate = 115200;
        request.resetRate = 9600;
        request.autoReset = options.contains("auto");
        if (options.contains("limits")) {
            request.connectLimit = std::chrono::milliseconds(300);
            request.completionLimit = std::chrono::milliseconds(100);
            request.endWhenPortLost = true;
        }
        QObject::connect(&engine, &DownloadEngine::stepEntered, [this](DownloadStep s) {
            port.log << QString("step ") + stepNames[int(s)];
        });
        QObject::connect(&engine, &DownloadEngine::blockSent, [this](int i, int n, qint64 sent) {
            port.log << QStringLiteral("block %1/%2 %3").arg(i).arg(n).arg(sent);
        });
        QObject::connect(&engine, &DownloadEngine::finished, [this](DownloadOutcome o) {
            port.log << QString("end ") + outcomeNames[int(o)];
            port.close();
        });
    }

    // Plays "start", "stop", "tick" ("tick12": twelve), "wait300" (the clock moves 300 ms),
    // "vanish", or a reply: "A", "A4" (its first four bytes), "0A" (a stray byte, then four).
    void apply(const QString &events)
    {
        for (const QString &e : events.split(' ', Qt::SkipEmptyParts)) {
            if (e == "start") {
                port.open({}, LineSettings::eightNoneOne(request.downloadRate));
                engine.start(request);
            } else if (e == "stop") {
                engine.stop();
            } else if (e == "vanish") {
                port.vanish();
            } else if (e.startsWith("wait")) {
                fp.clock.now += e.mid(4).toUInt();
            } else if (e.startsWith("tick")) {
                for (int i = qMax(1, e.mid(4).toInt()); i > 0; --i)
                    engine.tick();
            } else {
                const bool stray = e[0] == '0';
                const QByteArray r = reply(e[stray].toLatin1());
                port.deliver(stray ? '\0' + r.left(4) : e.endsWith('4') ? r.left(4) : r);
            }
        }
    }

    static QStringList sent(const QString &hex) { return {"TX " + hex, "clear"}; }
    static QStringList frame(const QString &field)
    {
        return sent("B1 B2 B3") + QStringList{"TX " + field} + sent("1B 2B 3B");
    }
    static QStringList block(int index, int count, int bytes, qint64 total, bool last = false)
    {
        return QStringList{QStringLiteral("TX <%1 bytes>").arg(bytes)} +
               (last ? QStringList{"step completion"} : QStringList()) +
               QStringList{QStringLiteral("block %1/%2 %3").arg(index).arg(count).arg(total)};
    }
    // R: a reset request at 9600 baud, D: a download request at 115200.
    static QStringList cycle(const char *ticks)
    {
        QStringList log;
        for (const char *t = ticks; *t; ++t)
            log += QStringList{*t == 'R' ? "line 9600" : "line 115200"} +
                   sent(*t == 'R' ? "F1 F2 F3 F4 F5 E1 E2 E3 E4 E5 5D 4D 3D 2D 1D 5C 4C 3C 2C 1C"
                                  : "44 4D 46");
        return log;
    }
};

} // namespace

class TestDownloadEngine : public QObject
{
    Q_OBJECT
private slots:
    void transitions_data()
    {
        QTest::addColumn<int>("length");     // of the image
        QTest::addColumn<QString>("before"); // events that bring the run where the row starts
        QTest::addColumn<QString>("events");
        QTest::addColumn<QString>("nested"); // "N events": events inside the N-th event pumping
        QTest::addColumn<QStringList>("log");
        QTest::addColumn<QString>("step");
        const auto row = [](const char *name, int length, const QString &before,
                            const QString &events, const QStringList &log, const char *step,
                            const char *nested = "0") {
            QTest::newRow(name) << length << before << events << QString(nested) << log
                                << QString(step);
        };
        using R = Rig;
        const QStringList none, stopped{"end stopped", "close"};
        const QString blocks = "start A tick B", completion = "start A tick B C";
        // clang-format off
        row("start", 1500, "", "start", {"open", "step connect"}, "connect");
        for (const QString &at : {QString("start"), QString("start A"), blocks, completion})
            row(qPrintable("stop after " + at), 1500, at, "stop", stopped, "idle");
        row("stop when idle", 1500, "", "stop", none, "idle");
        row("tick when idle", 1500, "auto", "tick", none, "idle");
        row("connect tick", 1500, "start", "tick", R::sent("44 4D 46") + QStringList{"clear"}, "connect");
        row("connect tick, auto reset", 1500, "auto start", "tick", R::cycle("R"), "connect");
        row("connect, auto reset, 10 ticks", 1500, "auto start", "tick10", R::cycle("RDDDDRDDDD"), "connect");
        // The count of a stopped run carries over: the cycle reaches the reset request within five ticks.
        row("stop at length tick 3, start, 10 ticks, auto reset", 1500, "auto start A tick3", "stop start tick10",
            stopped + QStringList{"open", "step connect"} + R::cycle("DDRDDDDRDD"), "connect");
        row("stop at length tick 37, start, 10 ticks, auto reset", 1500, "auto start A tick37", "stop start tick10",
            stopped + QStringList{"open", "step connect"} + R::cycle("RDDDDRDDDD"), "connect");
        row("a reset rate the port refuses", 1500, "auto refuse9600 start", "tick2", R::cycle("D"), "connect");
        row("A", 1500, "start tick3", "A", {"step length"}, "length");
        row("length tick 1: frame", 1500, "start A", "tick", R::frame("00 01 01 DC"), "length");
        row("length tick 1, 64 MiB: no frame", 64 << 20, "start A", "tick", none, "length");
        row("length tick 2", 1500, "start A tick", "tick", none, "length");
        row("length tick 5: frame", 70000, "start A tick4", "tick", R::frame("00 44 01 70"), "length");
        row("length tick 10: frame", 2048, "start A tick9", "tick", R::frame("00 02 00 00"), "length");
        row("length tick 50: frame", 100, "start A tick49", "tick", R::frame("00 00 00 64"), "length");
        row("length tick 53", 1500, "start A tick52", "tick", none, "length");
        row("length tick 54: connection failed", 1500, "start A tick53", "tick", {"end connection_failed", "close"}, "idle");
        row("B: block 0 of 2", 1500, "start A tick17", "B", QStringList{"step blocks"} + R::block(0, 2, 1024, 1024), "blocks");
        row("B: the only block", 100, "start A tick17", "B", QStringList{"step blocks"} + R::block(0, 1, 100, 100, true), "completion");
        row("B: no image", 0, "start A tick", "B", {"step blocks"}, "blocks");
        row("block tick 50", 1500, blocks + " tick49", "tick", none, "blocks");
        row("block tick 51: download failed", 1500, blocks + " tick50", "tick", {"end download_failed", "close"}, "idle");
        row("C resets the count", 70000, blocks + " tick49 C", "tick50", none, "blocks");
        row("C: block 1 of 69", 70000, blocks, "C", R::block(1, 69, 1024, 2048), "blocks");
        row("C: the last, whole", 2048, blocks, "C", R::block(1, 2, 1024, 2048, true), "completion");
        row("C: the last of 69", 70000, blocks + " " + QString("C ").repeated(67), "C", R::block(68, 69, 368, 70000, true), "completion");
        row("completion tick", 1500, "auto " + completion, "tick100", none, "completion");
        row("D: success", 1500, completion, "D", {"end success", "close"}, "idle");
        const QStringList at{"", "start", "start A", blocks, completion};
        for (int step = 0; step <= 4; ++step) // other steps' replies, and the step's own spoilt
            for (char letter : QByteArray("ABCD"))
                for (QString e : {"L", "L4", "0L"})
                    if ((e.replace('L', letter).size() == 1) != (letter == 'A' + step - 1))
                        row(qPrintable(QStringLiteral("%1 in %2").arg(e, at[step].isEmpty() ? "idle" : at[step])), 1500, at[step], e, none,
                            step == 0 ? "idle" : step == 1 ? "connect" : step == 2 ? "length" : step == 3 ? "blocks" : "completion");

        // The command line's limits.
        row("no answer within the connect limit", 1500, "limits start tick", "wait300 tick", R::sent("44 4D 46") + QStringList{"clear"}, "connect");
        row("no answer past the connect limit", 1500, "limits start tick", "wait301 tick", {"end no_answer", "close"}, "idle");
        row("the connect limit counts from the step's start", 1500, "limits start wait250 A", "wait250 tick", R::frame("00 01 01 DC"), "length");
        row("no completion within its limit", 1500, "limits " + completion, "wait100 tick", none, "completion");
        row("no completion past its limit", 1500, "limits " + completion, "wait101 tick", {"end no_completion", "close"}, "idle");
        row("port lost", 1500, "limits " + blocks, "vanish tick", {"end port_lost"}, "idle");
        row("port lost, no limits: the tick limit ends it", 1500, blocks, "vanish tick51", {"end download_failed"}, "idle");

        row("B in the head's pump", 1500, "start A tick9", "tick", R::sent("B1 B2 B3") + QStringList{"step blocks"} + R::block(0, 2, 1024, 1024), "blocks", "1 B");
        row("B in the tail's pump", 1500, "start A tick4", "tick", R::frame("00 01 01 DC") + QStringList{"step blocks"} + R::block(0, 2, 1024, 1024), "blocks", "2 B");
        row("stop in the request's pump", 1500, "start", "tick", R::sent("44 4D 46") + stopped, "idle", "1 stop");
        row("stop in the head's pump", 1500, "start A", "tick", R::sent("B1 B2 B3") + stopped, "idle", "1 stop");
        row("stop in the tail's pump", 1500, "start A tick4", "tick", R::frame("00 01 01 DC") + stopped, "idle", "2 stop");
        row("stop, start in the head's pump", 1500, "start A", "tick", R::sent("B1 B2 B3") + stopped + QStringList{"open", "step connect"}, "connect", "1 stop start");
        // clang-format on
    }

    void transitions()
    {
        QFETCH(int, length);
        QFETCH(QString, before);
        QFETCH(QString, events);
        QFETCH(QString, nested);
        Rig rig(length, before);
        if (before.contains("refuse9600"))
            rig.port.refusedRates << 9600;
        rig.apply(
            before.split(' ').filter(QRegularExpression("^(?!auto|limits|refuse)")).join(' '));
        rig.port.log.clear();
        rig.port.wire.clear();
        int pumps = 0;
        rig.fp.pump.hook = [&] {
            if (++pumps == nested.section(' ', 0, 0).toInt())
                rig.apply(nested.section(' ', 1));
        };
        rig.apply(events);

        QTEST(rig.port.log, "log");
        QTEST(QString(stepNames[int(rig.engine.step())]), "step");
        if ((events == "B" || events == "C") && !rig.port.wire.isEmpty()) { // the block asked for
            const int sent = before.count(" C") + (events == "C");
            QCOMPARE(rig.port.wire, testImage(length).mid(sent * 1024, 1024));
        }
    }
};

QTEST_GUILESS_MAIN(TestDownloadEngine)
#include "tst_downloadengine.moc"
