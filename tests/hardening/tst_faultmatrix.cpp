// The whole program against a virtual board, one fault per row, each ending idle with the port
// free, the image and settings intact, and success shown exactly when the board took the image.
#include "e2erig.h"

#include <QRegularExpression>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/fsuid.h>
#include <unistd.h>

using VBoard::Fault;
using Act = std::function<void(E2eRig &)>; // the fault, brought about on a rig
Q_DECLARE_METATYPE(Act)

namespace
{

// While it lives, this thread's file accesses are checked as the user "nobody".
struct AsNobody {
    AsNobody() { setfsgid(65534), setfsuid(65534); }
    ~AsNobody() { setfsuid(0), setfsgid(0); }
};

// Descriptors of this process on `device`, also after it has gone.
int descriptorsOn(const QString &device)
{
    const QStringList names{device, device + QStringLiteral(" (deleted)")};
    int n = 0;
    for (const QFileInfo &fd : QDir(QStringLiteral("/proc/self/fd")).entryInfoList(QDir::System))
        n += names.contains(fd.symLinkTarget());
    return n;
}

// Whether another program could take the device now.
bool freeForOthers(const QString &device)
{
    const int fd = ::open(QFile::encodeName(device).constData(), O_RDWR | O_NOCTTY);
    const bool free = fd >= 0 && ::flock(fd, LOCK_EX | LOCK_NB) == 0;
    ::close(fd);
    return free;
}

// Starts a run and brings it to `step`.
void reach(E2eRig &rig, int step)
{
    rig.click();
    for (int i = 0; i < 100 && (i == 0 || rig.step() < step); ++i)
        rig.tick(10);
}

// In `step`, a stop; or the adapter pulled out, then the step's tick limit (3, 2) or a stop.
Act inStep(int step, bool pull)
{
    return [=](E2eRig &rig) {
        reach(rig, step);
        if (pull) {
            rig.pullPlug();
            QTRY_VERIFY_WITH_TIMEOUT(!rig.port.isOpen(), 2000);
        } else if (step == 3) // block 1 of 3 is out
            QTRY_COMPARE_WITH_TIMEOUT(rig.status(), QStringLiteral("下载进度：65%"), 2000);
        rig.ticks(!pull ? 3 : step == 3 ? 51 : 54);
        if (rig.step() != 0)
            rig.click();
    };
}

// A stop while writing a request (download request or length frame) runs events.
Act stopInPump(int step, const QByteArray &lastSent)
{
    return [=](E2eRig &rig) {
        reach(rig, step);
        rig.fakes.pump.hook = [&] {
            if (rig.form->isDownloading())
                rig.click();
        };
        rig.tick(5);
        rig.fakes.pump.hook = nullptr;
        QVERIFY(rig.board->received().endsWith(lastSent));
    };
}

// Writes the settings file as `bytes` ("" makes it a folder), then starts the program again.
Act settingsAre(const QByteArray &bytes)
{
    return [=](E2eRig &rig) {
        const QString settings = rig.form->settingsPath();
        if (bytes.isEmpty())
            QVERIFY(QFile::remove(settings) && QDir().mkdir(settings));
        else
            writeBytes(settings, bytes);
        rig.start(); // no keys in the first 64 KiB: fields at 0; no file: the defaults
        QCOMPARE(rig.form->settings.downloadRateIndex, bytes.isEmpty() ? 4 : 0);
    };
}

// A click on "加载Bin文件" choosing bad.BIN, made by `make` from its path.
Act loadBad(const std::function<void(const QString &)> &make)
{
    return [=](E2eRig &rig) {
        const QString bad = rig.home.filePath(QStringLiteral("bad.BIN"));
        make(bad);
        rig.dialogs.fileAnswers.enqueue(bad);
        AsNobody(), rig.form->loadButton->click(); // (root could read it anyway)
    };
}

void portHeld(E2eRig &rig)
{
    const QString other = rig.home.filePath(QStringLiteral("other-name"));
    QVERIFY(QFile::link(rig.board->slavePath(), other));
    const int fd = ::open(QFile::encodeName(other).constData(), O_RDWR | O_NOCTTY);
    QVERIFY(fd >= 0 && ::flock(fd, LOCK_EX | LOCK_NB) == 0);
    rig.click();
    ::close(fd);
}

void stopInAlarm(E2eRig &rig) // a stop and a new start during the alarm: the new run is left alone
{
    reach(rig, 2);
    rig.fakes.tone.onBeep = [&] {
        if (rig.fakes.tone.beeps.size() == 3)
            rig.click(), rig.click();
    };
    rig.ticks(54);
    QCOMPARE(rig.step(), 1);
    rig.runToEnd(300);
    QCOMPARE(rig.fakes.tone.beeps.size(), 1 + 5 + 2 + 5);
}

void configReadOnly(E2eRig &rig)
{
    const QByteArray before = fileBytes(rig.form->settingsPath());
    QFile::setPermissions(rig.config, QFileDevice::Permissions(0x5555));
    AsNobody(), rig.start(), rig.setAutoReset(true); // (root could write there anyway)
    QFile::setPermissions(rig.config, QFileDevice::Permissions(0x7755));
    QCOMPARE(fileBytes(rig.form->settingsPath()), before);
    QVERIFY(rig.form->settings.autoReset); // carries on with the value in memory
}

// Says 4096 bytes and delivers a few, as a file cut while it is read.
const QString shrinking = QStringLiteral("/sys/devices/system/cpu/online");

} // namespace

class TestFaultMatrix : public QObject
{
    Q_OBJECT
private slots:
    void cell_data();
    void cell();
};

void TestFaultMatrix::cell_data()
{
    QTest::addColumn<Fault>("fault");
    QTest::addColumn<Act>("act");
    QTest::addColumn<QString>("status"); // the status line at the end
    QTest::addColumn<QString>("notice"); // part of the one notice shown, "" for none
    QTest::addColumn<QString>("skip");   // why the row cannot run here, "" when it can
    const QString connecting = QStringLiteral("连接中……"), atEnd = QStringLiteral("下载进度：99%");
    const QString noLink = QStringLiteral("连接失败");
    const QString notRoot = geteuid() == 0 ? "" : "a port closed to this user needs root";
    const bool shrinks = QFileInfo(shrinking).size() > fileBytes(shrinking).size();
    const QString noShrink = shrinks ? "" : "no file here reads shorter than its size";
    const auto sparse = [](qint64 size) {
        return [=](const QString &path) {
            QFile f(path);
            QVERIFY(f.open(QIODevice::WriteOnly) && f.resize(size));
        };
    };
    // clang-format off
    const Fault stuckIn[] = {Fault::None, Fault::NeverA, Fault::NeverB, Fault::SilentAfter, Fault::NeverD};
    const QString gone[] = {"", connecting, noLink, "下载失败", atEnd}, stopped[] = {"", connecting, connecting, "下载进度：65%", atEnd};
    for (int step = 1; step <= 4; ++step) {
        QTest::addRow("tty gone in step %d", step) << stuckIn[step] << inStep(step, true) << gone[step] << "" << "";
        QTest::addRow("stop in step %d", step) << stuckIn[step] << inStep(step, false) << stopped[step] << "" << "";
    }
    QTest::newRow("stop inside a request's pumping, step 1") << Fault::NeverA << stopInPump(0, downloadRequest) << connecting << "" << "";
    QTest::newRow("stop inside the length frame's pumping") << Fault::NeverB << stopInPump(2, lengthFrame(0).left(3)) << connecting << "" << "";
    QTest::newRow("stop during the failure alarm") << Fault::NeverB << Act(stopInAlarm) << noLink << "" << "";
    QTest::newRow("port held under another path") << Fault::None << Act(portHeld) << success << "COM3已被其它程序打开" << "";
    QTest::newRow("port permission denied") << Fault::None << Act([](E2eRig &rig) { AsNobody(), rig.click(); }) << success << "没有使用该串口的权限" << notRoot;
    QTest::newRow("config folder read-only") << Fault::None << Act(configReadOnly) << success << "" << "";
    QTest::newRow("settings huge") << Fault::None << settingsAre(QByteArray(16 << 20, 'x') + "\nXZBTL2\r\n") << success << "" << "";
    QTest::newRow("settings a folder") << Fault::None << settingsAre("") << success << "" << "";
    QTest::newRow("image empty") << Fault::None << loadBad(sparse(0)) << success << "空文件" << "";
    QTest::newRow("image unreadable") << Fault::None << loadBad([](const QString &path) { writeBytes(path, testImage(100)); QVERIFY(QFile::setPermissions(path, {})); }) << success << "没有读取文件" << "";
    QTest::newRow("image a folder") << Fault::None << loadBad([](const QString &path) { QVERIFY(QDir().mkdir(path)); }) << success << "是文件夹" << "";
    QTest::newRow("image 64 MiB") << Fault::None << loadBad(sparse(64 << 20)) << success << "67108864字节" << "";
    QTest::newRow("image shorter than its size") << Fault::None << Act([](E2eRig &rig) { rig.dialogs.fileAnswers.enqueue(shrinking); rig.form->loadButton->click(); }) << success << "在读取时被改动" << noShrink;
    // clang-format on
}

void TestFaultMatrix::cell()
{
    QFETCH(Fault, fault);
    QFETCH(QString, status);
    QFETCH(QString, notice);
    QFETCH(QString, skip);
    if (!skip.isEmpty())
        QSKIP(qPrintable(skip));
    E2eRig rig({.fault = fault, .silentAfter = 1});
    QFile::setPermissions(rig.home.path(), QFileDevice::Permissions(0x7755)); // nobody may look
    rig.load(testImage(3000));
    const QString settings = rig.form->settingsPath();
    QFETCH(Act, act);
    act(rig);
    if (QTest::currentTestFailed())
        return;
    if (status == success) { // the fault is past: the image loaded before goes down whole
        reach(rig, 0);
        rig.runToEnd(300);
    }

    QVERIFY(rig.idle()); // every control unlocked, the panel hidden, the port closed
    QCOMPARE(descriptorsOn(rig.board->slavePath()), 1); // the board's own
    QVERIFY(!rig.board->plugged() || freeForOthers(rig.board->slavePath()));
    QCOMPARE(rig.form->image, rig.image);
    const bool folder = QTest::currentDataTag() == QByteArray("settings a folder");
    QCOMPARE(QFileInfo(settings).isDir(), folder);
    const QByteArray file = fileBytes(settings, "<unreadable>");
    QVERIFY2(folder || QRegularExpression("^XZBTL\\d\r\nFWBTL\\d\r\nRESET\\d\r\nYULAN\\d\r\n$")
                           .match(QString::fromLatin1(file))
                           .hasMatch(),
             file.left(64).constData());
    QCOMPARE(rig.status(), status);
    const VBoard::Board &board = rig.board->board();
    QCOMPARE(status == success,
             board.downloadsCompleted() > 0 && board.image() == rig.image && fault == Fault::None);
    QCOMPARE(rig.dialogs.messages.size(), notice.isEmpty() ? 0 : 1);
    if (!notice.isEmpty())
        QVERIFY2(rig.dialogs.messages.first().text.contains(notice),
                 qPrintable(rig.dialogs.messages.first().text));
}

QTEST_MAIN(TestFaultMatrix)
#include "tst_faultmatrix.moc"
