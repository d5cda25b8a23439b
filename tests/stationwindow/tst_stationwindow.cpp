// The station window under offscreen Qt, with virtual boards on pseudo-terminals.
#include "alarm.h"
#include "configdir.h"
#include "firmwareimage.h"
#include "imagefacts.h"
#include "linkedboard.h"
#include "portlock.h"
#include "settingsfile.h"
#include "socketgrid.h"
#include "sockettile.h"
#include "stationargs.h"
#include "stationtexts.h"
#include "stationwindow.h"
#include "tone.h"
#include "wire.h"

#include <QtTest>
#include <QtWidgets>

#include <mutex>
#include <thread>

#include <unistd.h>

using VBoard::Fault;
using State = Socket::State;

namespace
{

// Records beeps from any thread; each beep takes `beepMs` of the thread that sounds it.
class ThreadTone : public Tone
{
public:
    void beep(int frequencyHz, int durationMs) override
    {
        {
            const std::lock_guard<std::mutex> hold(lock);
            beeps << QStringLiteral("%1/%2").arg(frequencyHz).arg(durationMs);
            onWindowThread |= std::this_thread::get_id() == windowThread;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(beepMs));
    }
    qsizetype count()
    {
        const std::lock_guard<std::mutex> hold(lock);
        return beeps.size();
    }
    std::mutex lock;
    QStringList beeps;
    bool onWindowThread = false;
    const std::thread::id windowThread = std::this_thread::get_id();
    int beepMs = 1;
};

// A window on the tray's config folder, watching `ports` (every port when empty).
struct StationRig : BoardTray {
    explicit StationRig(const QStringList &ports = {})
    {
        QList<PortTarget> targets;
        for (const QString &p : ports)
            targets << resolvePort(p);
        window.emplace(tone, config, targets);
        window->show();
    }
    const Socket &socket(const QString &port) const
    {
        for (const Socket &s : window->station()->sockets())
            if (s.port == port)
                return s;
        qFatal("no socket %s", qPrintable(port));
    }
    QString report() const { return home.filePath("report.csv"); }
    // The report's rows, "PORT OUTCOME", sorted.
    QStringList reportRows() const
    {
        QStringList rows;
        for (const QByteArray &line : fileBytes(report()).split('\n').mid(1))
            if (const QList<QByteArray> c = line.split(','); c.size() == 10)
                rows << QString(c[1] + ' ' + c[7]);
        rows.sort();
        return rows;
    }
    // True when nothing holds the device any more: no descriptor, no flock.
    bool released(int com)
    {
        const PortLock::Claim claim = PortLock::claimDevice(board(com).slavePath());
        if (claim.fd >= 0)
            ::close(claim.fd);
        return claim.status == PortLock::Status::Claimed;
    }

    ThreadTone tone;
    std::optional<StationWindow> window;
};

// What each tile shows, its visible labels' texts joined, in the grid's order.
QStringList tileTexts(const SocketGrid *grid)
{
    QStringList tiles;
    for (const SocketTile *tile : grid->findChildren<SocketTile *>()) {
        QStringList texts;
        for (const QLabel *label : tile->findChildren<QLabel *>())
            if (label->isVisibleTo(tile))
                texts << label->text();
        tiles << texts.join(u' ');
    }
    return tiles;
}

// Each socket's tile, found by its port's name, says its state in its word, a failure's reason
// and, while waiting, the last result. True also while the grid draws no tiles yet.
bool tilesAgree(const StationWindow &w)
{
    const QStringList tiles = tileTexts(w.grid);
    if (tiles.isEmpty())
        return true;
    const QList<Socket> &sockets = w.station()->sockets();
    bool agree = tiles.size() == sockets.size();
    for (const Socket &s : sockets) {
        const QString tile =
            tiles.filter(QRegularExpression(QStringLiteral("\\b%1\\b").arg(s.port))).join(u' ');
        agree = agree && tile.contains(stateWord(s)) &&
                (s.state != State::Waiting || tile.contains(lastResultText(s))) &&
                (s.state != State::Failed || tile.contains(reasonWords(s.ending)));
    }
    return agree;
}

} // namespace

class TestStationWindow : public QObject
{
    Q_OBJECT
private slots:
    void init() { qputenv("VANTREL_LOCK_DIR", lockDir.path().toLocal8Bit()); }

    void commandLine_data();
    void commandLine();
    void programExits_data();
    void programExits();
    void imageAtTheTop_data();
    void imageAtTheTop();
    void ratesStoredBack();
    void trayWithAFaultyBoard();
    void stopMidRun_data();
    void stopMidRun();
    void alarmOffTheWindowThread();

private:
    QTemporaryDir lockDir;
};

void TestStationWindow::commandLine_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("read"); // "image|ports|report", or "error: ..."
    // clang-format off
    QTest::newRow("nothing: opens empty, every port") << QStringList{} << "||";
    QTest::newRow("image, ports in every spelling") << QStringList{"fw.hex", "--port", "com3", "-pCOM1-COM2", "--port=COM9,com11", "-p/dev/ttyUSB0"} << "fw.hex|COM3 COM1 COM2 COM9 COM11 /dev/ttyUSB0|";
    QTest::newRow("report, -- before a dashed image") << QStringList{"--report=r.csv", "--all", "--", "-fw.bin"} << "-fw.bin||r.csv";
    QTest::newRow("two images") << QStringList{"a.bin", "b.bin"} << "error: unexpected argument 'b.bin': one image at most";
    QTest::newRow("--all and --port") << QStringList{"--all", "-p", "COM1"} << "error: --all and --port exclude each other";
    QTest::newRow("a port twice") << QStringList{"-pCOM2", "--port", "com2"} << "error: --port: a port is given twice";
    QTest::newRow("range out of bounds") << QStringList{"--port", "COM0-COM4"} << "error: --port: 'COM0-COM4' is not a range of COM1 to COM255";
    QTest::newRow("value missing") << QStringList{"--report"} << "error: option '--report' needs a value";
    QTest::newRow("empty port in a list") << QStringList{"-p", "COM1,,COM2"} << "error: --port: an empty port in 'COM1,,COM2'";
    QTest::newRow("unknown option") << QStringList{"--baud", "9600"} << "error: unknown option '--baud'";
    QTest::newRow("value on a flag") << QStringList{"--all=yes"} << "error: option '--all' takes no value";
    // clang-format on
}

void TestStationWindow::commandLine()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, read);
    const StationArgs a = readStationArgs(arguments);
    QStringList ports;
    for (const PortTarget &t : a.ports)
        ports << t.name;
    QCOMPARE(a.error.isEmpty() ? a.image + '|' + ports.join(' ') + '|' + a.reportPath
                               : "error: " + a.error,
             read);
}

void TestStationWindow::programExits_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("stdoutStart");
    QTest::addColumn<QString>("stderrStart");
    // clang-format off
    QTest::newRow("version") << QStringList{"--version"} << 0 << "vantrel-station (Vantrel) " << "";
    QTest::newRow("help") << QStringList{"--help"} << 0 << "Usage: vantrel-station [IMAGE]" << "";
    QTest::newRow("wrong option") << QStringList{"-x"} << 2 << "" << "vantrel-station: unknown option '-x'\nTry 'vantrel-station --help'";
    QTest::newRow("report not writable") << QStringList{"fw.bin", "--report", "/nonexistent/r.csv"} << 2 << "" << "vantrel-station: --report: ";
    // clang-format on
}

void TestStationWindow::programExits()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, status);
    QFETCH(QString, stdoutStart);
    QFETCH(QString, stderrStart);
    QProcess p;
    p.start(STATION_PATH, arguments);
    QVERIFY(p.waitForFinished(10000));
    QCOMPARE(p.exitStatus(), QProcess::NormalExit);
    QCOMPARE(p.exitCode(), status);
    const QString out = QString::fromUtf8(p.readAllStandardOutput());
    const QString err = QString::fromUtf8(p.readAllStandardError());
    QCOMPARE(out.left(stdoutStart.size()), stdoutStart);
    QCOMPARE(out.isEmpty(), stdoutStart.isEmpty()); // an error writes nothing on stdout
    // Qt may speak on stderr before the report is tried: the error is its own line.
    QVERIFY2(stderrStart.isEmpty() ? err.isEmpty() : err.contains(stderrStart), qPrintable(err));
}

namespace
{

// One Intel HEX record.
QByteArray hexRecord(int type, int address, const QByteArray &data)
{
    QByteArray bytes;
    bytes += char(data.size());
    bytes += char(address >> 8);
    bytes += char(address & 0xFF);
    bytes += char(type);
    bytes += data;
    int sum = 0;
    for (char c : bytes)
        sum += quint8(c);
    bytes += char(-sum & 0xFF);
    return ':' + bytes.toHex().toUpper() + "\r\n";
}

} // namespace

void TestStationWindow::imageAtTheTop_data()
{
    QTest::addColumn<QByteArray>("firstName");
    QTest::addColumn<QByteArray>("thenName"); // loaded after the first, when given
    QTest::addColumn<QString>("shown");       // name|bytes|format|start|sha|start enabled; @refusal
    const QByteArray hex = hexRecord(4, 0, QByteArray::fromHex("0800")) +
                           hexRecord(0, 0x4000, QByteArray::fromHex("DEADBEEF00")) +
                           hexRecord(1, 0, {});
    writeBytes(lockDir.filePath("fw.bin"), testImage(5000));
    writeBytes(lockDir.filePath("app.hex"), hex);
    writeBytes(lockDir.filePath("bad.hex"), hex.left(20) + "zz\r\n");
    writeBytes(lockDir.filePath("app.bin"), hex); // HEX text under a raw name: its bytes
    // clang-format off
    QTest::newRow("bin") << QByteArray("fw.bin") << QByteArray() << "fw.bin|5000|Bin|—|@sha|1|";
    QTest::newRow("hex at 0x08004000") << QByteArray("app.hex") << QByteArray() << "app.hex|5|Intel HEX|0x08004000|@sha|1|";
    QTest::newRow("raw name, taken as it is") << QByteArray("app.bin") << QByteArray() << QString("app.bin|%1|Bin|—|@sha|1|").arg(hex.size());
    QTest::newRow("refused, nothing before") << QByteArray("bad.hex") << QByteArray() << "|||||0|@refusal";
    QTest::newRow("refused, the bin stays") << QByteArray("fw.bin") << QByteArray("bad.hex") << "fw.bin|5000|Bin|—|@sha|1|@refusal";
    // clang-format on
}

void TestStationWindow::imageAtTheTop()
{
    QFETCH(QByteArray, firstName);
    QFETCH(QByteArray, thenName);
    QFETCH(QString, shown);
    StationRig rig({"COM1"});
    StationWindow &w = *rig.window;
    const QString first = lockDir.filePath(firstName);
    const bool loaded = w.loadImage(first);
    const QString then = thenName.isEmpty() ? QString() : lockDir.filePath(thenName);
    QCOMPARE(loaded && (then.isEmpty() || w.loadImage(then)), !shown.endsWith("@refusal"));

    const FirmwareImage::Result image = FirmwareImage::read(first);
    const FirmwareImage::Result refused = FirmwareImage::read(then.isEmpty() ? first : then);
    shown.replace("@sha", sha256Hex(image.data).left(12));
    shown.replace("@refusal", FirmwareImage::refusalMessage(refused.refusal,
                                                            then.isEmpty() ? first : then, loaded));
    const QStringList top{w.imageName->text(),   w.imageBytes->text(),
                          w.imageFormat->text(), w.imageStart->text(),
                          w.imageSha->text(),    QString::number(w.startButton->isEnabled()),
                          w.noticeLine->text()};
    QCOMPARE(top.join('|'), shown);
}

void TestStationWindow::ratesStoredBack()
{
    BoardTray tray;
    const QString settings = vantrelSettingsPath(tray.config);
    writeBytes(settings, formatSettings({2, 1, true, true}));
    ThreadTone tone;
    StationWindow w(tone, tray.config, {resolvePort("COM1")});
    QCOMPARE(w.downloadRateBox->currentIndex(), 2);
    QVERIFY(w.resetRateBox->currentIndex() == 1 && w.autoResetBox->isChecked());

    w.downloadRateBox->setCurrentIndex(3);
    emit w.downloadRateBox->activated(3);
    w.autoResetBox->click();
    // The preview's key, which this window has no control for, is kept.
    QCOMPARE(fileBytes(settings), formatSettings({3, 1, false, true}));

    QVERIFY(w.loadImage(tray.writeFile("fw.bin", testImage(100))));
    w.startStation();
    QVERIFY(w.isRunning() && !w.downloadRateBox->isEnabled() && !w.loadButton->isEnabled());
    const FlashPlan &plan = w.station()->plan();
    QCOMPARE(plan.downloadRate, downloadRates()[3].toInt());
    QVERIFY(plan.resetRate == resetRates()[1].toInt() && !plan.autoReset);
}

// Four boards, COM3 silent after three blocks: three pass, one fails with its reason, a row
// each in the report; a board taken out and put back is flashed again.
void TestStationWindow::trayWithAFaultyBoard()
{
    StationRig rig;
    const QByteArray image = testImage(30000);
    for (int com = 1; com <= 4; ++com)
        rig.plug(com, com == 3 ? VBoard::Options{.fault = Fault::SilentAfter, .silentAfter = 3}
                               : VBoard::Options{.blockDelayMs = 1});
    StationWindow &w = *rig.window;
    QVERIFY(w.openReport(rig.report()) && w.loadImage(rig.writeFile("fw.bin", image)));
    w.startButton->click();
    QCOMPARE(w.startButton->text(), "停止");
    const auto ended = [&] { return w.station()->totals().passed + w.station()->totals().failed; };
    QVERIFY(waitUntil([&] { return ended() == 4; }));

    for (int com : {1, 2, 4}) {
        QCOMPARE(rig.socket(comName(com)).state, State::Passed);
        QCOMPARE(rig.board(com).board().image(), image);
    }
    const Socket &faulty = rig.socket("COM3");
    QVERIFY(faulty.state == State::Failed && faulty.failed == 1);
    QCOMPARE(faulty.ending, Ending::DownloadFailed);
    QCOMPARE(rig.reportRows(),
             (QStringList{"COM1 success", "COM2 success", "COM3 download_failed", "COM4 success"}));
    const StationTotals totals = w.station()->totals();
    QVERIFY(totals.passed == 3 && totals.failed == 1 && totals.interrupted == 0);
    QTest::qWait(2 * StationWindow::repaintIntervalMs); // repainted within the interval
    QVERIFY2(tilesAgree(w), qPrintable(tileTexts(w.grid).join('\n')));
    // One beep for each pass, the five of the alarm for the failure.
    QVERIFY(waitUntil([&] { return rig.tone.count() == 3 + alarmBeeps; }, 5000));

    // Taken out: waiting, its last result kept; put back: flashed again.
    rig.unplug(2, true);
    QVERIFY(waitUntil([&] { return rig.socket("COM2").state == State::Waiting; }, 3000));
    QVERIFY(rig.socket("COM2").ran && rig.socket("COM2").ending == Ending::Success);
    QTest::qWait(2 * StationWindow::repaintIntervalMs);
    QVERIFY2(tilesAgree(w), qPrintable(tileTexts(w.grid).join('\n')));
    QTest::qWait(300); // the station sees the board go before the new one comes
    rig.plug(2);
    QVERIFY(waitUntil([&] { return w.station()->totals().passed == 4; }));
    QCOMPARE(rig.board(2).board().image(), image);
    QCOMPARE(rig.socket("COM2").passed, 2);
    QCOMPARE(rig.reportRows().size(), 5);

    // Stopped, the counts stand still: the totals line tells them.
    w.stopStation();
    QVERIFY(waitUntil([&] { return !w.isRunning(); }, 3000));
    const StationTotals final = w.station()->totals();
    QVERIFY(final.passed == 4 && final.failed == 1 && final.interrupted == 0);
    QCOMPARE(w.totalsLine->text(), totalsText(final));
}

void TestStationWindow::stopMidRun_data()
{
    QTest::addColumn<bool>("byClosing");
    QTest::newRow("stop button") << false;
    QTest::newRow("closing the window") << true;
}

// Boards that never answer: their runs go on until stopped, and end as interrupted, neither
// passed nor failed, every port released.
void TestStationWindow::stopMidRun()
{
    QFETCH(bool, byClosing);
    StationRig rig({"COM1", "COM2"});
    rig.plug(1, {.fault = Fault::NeverA});
    rig.plug(2, {.fault = Fault::NeverA});
    StationWindow &w = *rig.window;
    QVERIFY(w.openReport(rig.report()) && w.loadImage(rig.writeFile("fw.bin", testImage(2000))));
    // Past the port's opening: the download request goes out, unanswered.
    const auto flashing = [&] {
        return rig.socket("COM1").step > 0 && rig.socket("COM2").step > 0;
    };
    // Before the start, each watched port's tile waits (once the grid draws tiles).
    const QStringList before = tileTexts(w.grid);
    QVERIFY(before.isEmpty() || before.filter(stateWord(Socket())).size() == 2);
    w.startStation();
    QVERIFY(waitUntil(flashing, 5000));
    QVERIFY(!rig.released(1) && !rig.released(2)); // the runs hold their ports
    QVERIFY(!w.loadButton->isEnabled() && w.startButton->text() == "停止");

    if (byClosing) {
        QVERIFY(!w.close()); // the window waits for the runs, disabled
        QVERIFY(w.isVisible() && !w.centralWidget()->isEnabled());
        QVERIFY(waitUntil([&] { return !w.isVisible(); }, 5000));
    } else {
        w.startButton->click();
        QVERIFY(waitUntil([&] { return !w.isRunning(); }, 5000));
        QVERIFY(w.startButton->isEnabled() && w.startButton->text() == "开始");
    }
    const StationTotals totals = w.station()->totals();
    QVERIFY(totals.passed == 0 && totals.failed == 0);
    QCOMPARE(totals.interrupted, 2);
    QVERIFY(rig.released(1) && rig.released(2));
    QCOMPARE(rig.reportRows(), (QStringList{"COM1 interrupted", "COM2 interrupted"}));
    QCoreApplication::processEvents();
    QCOMPARE(rig.tone.count(), 0); // a stop calls nobody

    if (!byClosing) { // a new start: a new station, its counts from nothing
        w.startStation();
        QCOMPARE(w.station()->totals().interrupted, 0);
        QVERIFY(waitUntil(flashing, 5000));
    }
}

// The sounds play in turn on the alarm's thread while the window's events go on; the end
// cuts a long alarm short.
void TestStationWindow::alarmOffTheWindowThread()
{
    ThreadTone tone;
    tone.beepMs = 30;
    int ticks = 0;
    QTimer tick;
    connect(&tick, &QTimer::timeout, [&] { ++ticks; });
    tick.start(10);
    QElapsedTimer t;
    {
        Alarm alarm(tone);
        t.start();
        alarm.passed();
        alarm.failed();
        alarm.passed();
        QVERIFY(t.elapsed() < 20); // queued, not played here
        QVERIFY(waitUntil([&] { return tone.count() == 2 + alarmBeeps; }, 5000));
        QVERIFY(t.elapsed() >= (2 + alarmBeeps - 1) * alarmPauseMs); // apart, never merged
        QVERIFY2(ticks > 50, qPrintable(QString::number(ticks)));
        alarm.failed();
        QVERIFY(waitUntil([&] { return tone.count() == 3 + alarmBeeps; }, 1000));
        t.restart();
    }
    QVERIFY(t.elapsed() < alarmPauseMs); // the rest of that alarm dropped
    QCOMPARE(tone.count(), 3 + alarmBeeps);
    QVERIFY(!tone.onWindowThread);
    QCOMPARE(tone.beeps.count(QStringLiteral("%1/%2").arg(beepFrequencyHz).arg(beepDurationMs)),
             tone.count());
}

QTEST_MAIN(TestStationWindow)
#include "tst_stationwindow.moc"
