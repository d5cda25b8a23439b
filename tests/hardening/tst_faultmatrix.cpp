// The whole program against a virtual board, one fault per row. Every row ends idle and unlocked
// with the port free for anyone, the image loaded before whole, the settings file never left
// truncated, and "       下载成功" exactly when the board took the whole image.
#include "e2erig.h"
#include "files.h"

#include <QRegularExpression>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/fsuid.h>
#include <unistd.h>

using VBoard::Fault;

namespace
{

// clang-format off
enum Cell {
    TtyGone1, TtyGone2, TtyGone3, TtyGone4,
    Stop1, Stop2, Stop3, Stop4, StopInPump1, StopInPump2, StopInAlarm,
    PortHeld, PortForbidden,
    ConfigReadOnly, SettingsBinary, SettingsHuge, SettingsFolder,
    ImageEmpty, ImageUnreadable, ImageFolder, Image64MiB, ImageShrinks,
};
// clang-format on

// While it lives, this thread's file accesses are checked as the user "nobody".
struct AsNobody {
    AsNobody() { setfsgid(65534), setfsuid(65534); }
    ~AsNobody() { setfsuid(0), setfsgid(0); }
};

// Descriptors of this process that refer to `device` (also after the device has gone).
int descriptorsOn(const QString &device)
{
    const QStringList names{device, device + QStringLiteral(" (deleted)")};
    int n = 0;
    for (const QFileInfo &fd : QDir(QStringLiteral("/proc/self/fd")).entryInfoList(QDir::System))
        n += names.contains(fd.symLinkTarget());
    return n;
}

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
    QTest::addColumn<int>("cell");
    QTest::addColumn<Fault>("fault");
    QTest::addColumn<QString>("status"); // the status line at the end
    QTest::addColumn<QString>("notice"); // part of the one notice shown, "" for none
    const QString connecting = QStringLiteral("连接中……"), atEnd = QStringLiteral("下载进度：99%");
    const QString noLink = QStringLiteral("连接失败"), noBlocks = QStringLiteral("下载失败");
    // clang-format off
    QTest::newRow("tty gone in step 1") << int(TtyGone1) << Fault::NeverA << connecting << "";
    QTest::newRow("tty gone in step 2") << int(TtyGone2) << Fault::NeverB << noLink << "";
    QTest::newRow("tty gone in step 3") << int(TtyGone3) << Fault::SilentAfter << noBlocks << "";
    QTest::newRow("tty gone in step 4") << int(TtyGone4) << Fault::NeverD << atEnd << "";
    QTest::newRow("stop in step 1") << int(Stop1) << Fault::NeverA << connecting << "";
    QTest::newRow("stop in step 2") << int(Stop2) << Fault::NeverB << connecting << "";
    QTest::newRow("stop in step 3") << int(Stop3) << Fault::SilentAfter << "下载进度：65%" << "";
    QTest::newRow("stop in step 4") << int(Stop4) << Fault::NeverD << atEnd << "";
    QTest::newRow("stop inside a request's pumping, step 1") << int(StopInPump1) << Fault::NeverA << connecting << "";
    QTest::newRow("stop inside the length frame's pumping") << int(StopInPump2) << Fault::NeverB << connecting << "";
    QTest::newRow("stop during the failure alarm") << int(StopInAlarm) << Fault::NeverB << noLink << "";
    QTest::newRow("port held under another path") << int(PortHeld) << Fault::None << success << "COM3已被其它程序打开";
    QTest::newRow("port permission denied") << int(PortForbidden) << Fault::None << success << "没有使用该串口的权限";
    QTest::newRow("config folder read-only") << int(ConfigReadOnly) << Fault::None << success << "";
    QTest::newRow("settings binary") << int(SettingsBinary) << Fault::None << success << "";
    QTest::newRow("settings huge") << int(SettingsHuge) << Fault::None << success << "";
    QTest::newRow("settings a folder") << int(SettingsFolder) << Fault::None << success << "";
    QTest::newRow("image empty") << int(ImageEmpty) << Fault::None << success << "空文件";
    QTest::newRow("image unreadable") << int(ImageUnreadable) << Fault::None << success << "没有读取文件";
    QTest::newRow("image a folder") << int(ImageFolder) << Fault::None << success << "是文件夹";
    QTest::newRow("image 64 MiB") << int(Image64MiB) << Fault::None << success << "67108864字节";
    QTest::newRow("image shorter than its size") << int(ImageShrinks) << Fault::None << success << "在读取时被改动";
    // clang-format on
}

void TestFaultMatrix::cell()
{
    QFETCH(int, cell);
    QFETCH(Fault, fault);
    QFETCH(QString, status);
    QFETCH(QString, notice);
    if (cell == PortForbidden && geteuid() != 0)
        QSKIP("a port this user may not open needs root to set up honestly");

    VBoard::Options options;
    options.fault = fault;
    options.silentAfter = 1;
    E2eRig rig(options);
    QFile::setPermissions(rig.home.path(), QFileDevice::Permissions(0x7755)); // nobody may look
    rig.load(testImage(3000));
    const QString settings = rig.form->settingsPath();
    const QByteArray settingsBefore = fileBytes(settings, "<unreadable>");
    auto reach = [&](int step) { // starts a run and brings it to `step`
        rig.click();
        for (int i = 0; i < 100 && (i == 0 || rig.step() < step); ++i)
            rig.tick(10);
    };
    auto loadFile = [&](const QString &path) { // a click on "加载Bin文件" choosing `path`
        rig.dialogs.fileAnswers.enqueue(path);
        rig.form->loadButton->click();
    };
    const QString bad = rig.home.filePath(QStringLiteral("bad.BIN"));

    switch (cell) {
    case TtyGone1:
    case TtyGone2:
    case TtyGone3:
    case TtyGone4:
        reach(cell - TtyGone1 + 1);
        rig.pullPlug();
        QTRY_VERIFY_WITH_TIMEOUT(!rig.port.isOpen(), 2000);
        rig.ticks(cell == TtyGone3 ? 51 : 54); // the limits of steps 3 and 2 (1 and 4 have none)
        if (rig.step() != 0)
            rig.click();
        break;
    case Stop1:
    case Stop2:
    case Stop3:
    case Stop4:
        reach(cell - Stop1 + 1);
        if (cell == Stop3) // block 1 of 3 is out
            QTRY_COMPARE_WITH_TIMEOUT(rig.status(), status, 2000);
        rig.ticks(3);
        rig.click();
        break;
    case StopInPump1:
    case StopInPump2:
        reach(cell == StopInPump1 ? 0 : 2);
        rig.fp.pump.hook = [&] {
            if (rig.form->isDownloading())
                rig.click();
        };
        rig.tick(5);
        rig.fp.pump.hook = nullptr;
        QVERIFY(rig.board->received().endsWith(cell == StopInPump1 ? downloadRequest
                                                                   : lengthFrame(0).left(3)));
        break;
    case StopInAlarm: // a stop and a new start during the alarm: the new run is left alone
        reach(2);
        rig.fp.tone.onBeep = [&] {
            if (rig.fp.tone.beeps.size() == 3)
                rig.click(), rig.click();
        };
        rig.ticks(54);
        QCOMPARE(rig.step(), 1);
        rig.runToEnd(300);
        QCOMPARE(rig.fp.tone.beeps.size(), 1 + 5 + 2 + 5);
        break;
    case PortHeld: {
        const QString other = rig.home.filePath(QStringLiteral("other-name"));
        QVERIFY(QFile::link(rig.board->slavePath(), other));
        const int fd = ::open(QFile::encodeName(other).constData(), O_RDWR | O_NOCTTY);
        QVERIFY(fd >= 0 && ::flock(fd, LOCK_EX | LOCK_NB) == 0);
        rig.click();
        ::close(fd);
        break;
    }
    case PortForbidden:
        AsNobody(), rig.click(); // clicked as "nobody"
        break;
    case ConfigReadOnly:
        QFile::setPermissions(rig.config, QFileDevice::Permissions(0x5555));
        AsNobody(), rig.start(), rig.setAutoReset(true); // (root could write there anyway)
        QFile::setPermissions(rig.config, QFileDevice::Permissions(0x7755));
        QCOMPARE(fileBytes(settings, "<unreadable>"), settingsBefore);
        QVERIFY(rig.form->settings.autoReset); // carries on with the value in memory
        break;
    case SettingsBinary:
    case SettingsHuge:
    case SettingsFolder: {
        QFile f(settings);
        if (cell == SettingsFolder) {
            QVERIFY(QFile::remove(settings) && QDir().mkdir(settings));
        } else {
            QVERIFY(f.open(QIODevice::WriteOnly));
            for (int i = 0; i < 4096 && cell == SettingsBinary; ++i)
                f.putChar(char(i * 131 % 256));
            if (cell == SettingsHuge)
                f.write(QByteArray(16 << 20, 'x') + "\nXZBTL2\r\n");
            f.close();
        }
        rig.start();
        // No keys in the first 64 KiB leave the fields at 0; no file gives the defaults.
        QCOMPARE(rig.form->settings.downloadRateIndex, cell == SettingsFolder ? 4 : 0);
        break;
    }
    case ImageEmpty:
    case ImageUnreadable:
    case ImageFolder:
    case Image64MiB: {
        QFile f(bad);
        if (cell == ImageFolder) {
            QVERIFY(QDir().mkdir(bad));
        } else {
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(testImage(cell == ImageUnreadable ? 100 : 0));
            QVERIFY(cell != Image64MiB || f.resize(64 << 20));
            f.close();
            QVERIFY(cell != ImageUnreadable || f.setPermissions({}));
        }
        AsNobody(), loadFile(bad); // (root could read it anyway)
        break;
    }
    case ImageShrinks: {
        // A sysfs attribute says 4096 bytes and delivers a few, as a file cut while it is read.
        const QString shrinking = QStringLiteral("/sys/devices/system/cpu/online");
        if (QFileInfo(shrinking).size() <= fileBytes(shrinking).size())
            QSKIP("no file here reads shorter than its size");
        loadFile(shrinking);
        break;
    }
    }

    if (status == success) { // the fault is past: the image loaded before goes down whole
        reach(0);
        rig.runToEnd(300);
    }

    QVERIFY(rig.idle()); // every control unlocked, the panel hidden, the port closed
    QCOMPARE(descriptorsOn(rig.board->slavePath()), 1); // the board's own
    if (cell > TtyGone4) { // a vanished tty's number may already serve another test
        const int fd =
            ::open(QFile::encodeName(rig.board->slavePath()).constData(), O_RDWR | O_NOCTTY);
        QVERIFY(fd >= 0 && ::flock(fd, LOCK_EX | LOCK_NB) == 0);
        ::close(fd);
    }
    QCOMPARE(rig.form->image, rig.image);
    if (cell == SettingsFolder)
        QVERIFY(QFileInfo(settings).isDir());
    else
        QVERIFY2(
            QRegularExpression(QStringLiteral("^XZBTL\\d\r\nFWBTL\\d\r\nRESET\\d\r\nYULAN\\d\r\n$"))
                .match(QString::fromLatin1(fileBytes(settings, "<unreadable>")))
                .hasMatch(),
            fileBytes(settings, "<unreadable>").left(64).constData());
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
