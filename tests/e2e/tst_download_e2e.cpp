// Whole downloads over pseudo-terminals: the main window, the real serial component and a
// virtual board, checked byte for byte on the wire and by what the window shows at each end.
#include "e2erig.h"

#include "shape.h"

#include <QGroupBox>
#include <QProcess>
#include <QTest>

using VBoard::Fault;
using VBoard::Options;

namespace
{

Options withFault(Fault fault, int silentAfter = 0)
{
    Options o;
    o.fault = fault;
    o.silentAfter = silentAfter;
    return o;
}

const QString success = QStringLiteral("       下载成功");

} // namespace

class TestDownloadE2e : public QObject
{
    Q_OBJECT
private slots:
    void exactBytes_data();
    void exactBytes();
    void thirdRequestAfterReset();
    void wrongStepRepliesDropped();
    void strayByteBeforeReplyB();
    void boardNeverAnswers();
    void replyAButNeverB_data();
    void replyAButNeverB();
    void silenceMidImage();
    void noReplyD();
    void runWithoutImage();
    void ttyDisappearsMidRun();
    void stopThenStartWithAutoReset();
    void virtualBoardProgram();
};

void TestDownloadE2e::exactBytes_data()
{
    QTest::addColumn<int>("length");
    QTest::addColumn<bool>("autoReset");
    for (int length : {100, 1500, 2048, 70000})
        for (bool autoReset : {false, true})
            QTest::addRow("%d%s", length, autoReset ? ", auto reset" : "") << length << autoReset;
}

void TestDownloadE2e::exactBytes()
{
    QFETCH(int, length);
    QFETCH(bool, autoReset);
    E2eRig rig;
    rig.load(testImage(length));
    rig.setAutoReset(autoReset);
    rig.click();
    QCOMPARE(rig.status(), QStringLiteral("连接中……"));
    if (autoReset) {
        rig.tick(5); // the reset request, at the reset rate
        QCOMPARE(rig.comm.Settings(), rig.form->Combo2->currentText() + ",n,8,1");
    }
    rig.tick();
    QCOMPARE(rig.comm.Settings(), rig.form->Comboxzbtv->currentText() + ",n,8,1");
    QTRY_COMPARE_WITH_TIMEOUT(rig.step(), 2, 2000);
    rig.tick(); // the length frame; reply B then drives every block
    QTRY_COMPARE_WITH_TIMEOUT(rig.status(), success, 5000);

    const QByteArray expected = (autoReset ? resetRequest : QByteArray()) + downloadRequest +
                                lengthFrame(length) + rig.image;
    QCOMPARE(rig.board.received(), expected);
    QCOMPARE(rig.board.board().image(), rig.image);
    QVERIFY(rig.idle());
    QCOMPARE(rig.form->Shape2->widthTwips(), 8145.0);
    QCOMPARE(rig.fp.tone.beeps.size(), 1); // the click's own; success is silent
}

void TestDownloadE2e::thirdRequestAfterReset()
{
    Options options;
    options.autoResetOnly = true;
    options.answerRequest = 3;
    E2eRig rig(options);
    rig.load(testImage(1500));
    rig.setAutoReset(true);
    rig.click();
    for (int i = 0; i < 3; ++i)
        rig.tick(5);
    QCOMPARE(rig.step(), 1);
    rig.tick();
    QTRY_COMPARE_WITH_TIMEOUT(rig.step(), 2, 2000);
    QCOMPARE(rig.board.received(),
             resetRequest + downloadRequest + downloadRequest + downloadRequest);
    rig.tick();
    QTRY_COMPARE_WITH_TIMEOUT(rig.status(), success, 5000);
}

void TestDownloadE2e::wrongStepRepliesDropped()
{
    // A board that says nothing by itself; the test writes every reply.
    E2eRig rig(withFault(Fault::NeverA));
    rig.load(testImage(1500));
    rig.click();
    rig.tick();
    auto reply = [&](char letter) {
        const int x = 0xA + letter - 'A';
        const char bytes[5] = {char(x << 4 | 1), char(x << 4 | 2), char(x << 4 | 3), char(0x20 | x),
                               char(0x10 | x)};
        rig.board.writeRaw(QByteArray(bytes, 5));
        E2eRig::settle(10);
    };
    const struct {
        int step;
        const char *wrong;
        char right;
    } steps[] = {{1, "BCD", 'A'}, {2, "ACD", 'B'}, {3, "ABD", 'C'}, {4, "ABC", 'D'}};
    for (const auto &s : steps) {
        if (s.step == 2 || s.step == 3)
            rig.tick(); // a count that a wrong reply must not reset
        const qint16 count = rig.form->download.TICK_COUNT;
        for (const char *w = s.wrong; *w; ++w)
            reply(*w);
        QCOMPARE(rig.step(), s.step);
        QCOMPARE(rig.form->download.TICK_COUNT, count);
        QCOMPARE(rig.comm.InBufferCount(), 0); // read and dropped
        reply(s.right);
        QTRY_VERIFY_WITH_TIMEOUT(rig.step() != s.step, 2000);
    }
    QCOMPARE(rig.status(), success);
    QCOMPARE(rig.board.received(), downloadRequest + lengthFrame(1500) + rig.image);
}

void TestDownloadE2e::strayByteBeforeReplyB()
{
    // 00 B1 B2 B3 2B does not match and is dropped; the host repeats the frame on the 5th tick
    // and the board's second, clean reply B starts the blocks.
    E2eRig rig(withFault(Fault::StrayByte));
    rig.load(testImage(1500));
    rig.click();
    rig.tick();
    QTRY_COMPARE_WITH_TIMEOUT(rig.step(), 2, 2000);
    rig.tick(20);
    QCOMPARE(rig.step(), 2);
    for (int i = 2; i <= 4; ++i)
        rig.tick(5);
    QCOMPARE(rig.step(), 2);
    rig.tick();
    QTRY_COMPARE_WITH_TIMEOUT(rig.status(), success, 5000);
    QCOMPARE(rig.board.received(),
             downloadRequest + lengthFrame(1500) + lengthFrame(1500) + rig.image);
}

void TestDownloadE2e::boardNeverAnswers()
{
    // Real 10 ms ticks: the request goes out on every one until the operator stops.
    E2eRig rig(withFault(Fault::NeverA));
    rig.load(testImage(1500));
    rig.form->Timer1->start();
    rig.click();
    QTest::qWait(300);
    QCOMPARE(rig.step(), 1);
    QCOMPARE(rig.status(), QStringLiteral("连接中……"));
    const QByteArray wire = rig.board.received();
    QVERIFY2(wire.size() >= 10 * 3, QByteArray::number(wire.size()));
    QCOMPARE(wire, downloadRequest.repeated(wire.size() / 3));
    rig.click();
    QVERIFY(rig.idle());
    QCOMPARE(rig.status(), QStringLiteral("连接中……"));
    QCOMPARE(rig.fp.tone.beeps.size(), 2);
}

void TestDownloadE2e::replyAButNeverB_data()
{
    QTest::addColumn<bool>("preview");
    QTest::addColumn<int>("top");
    QTest::newRow("preview off") << false << 300;
    QTest::newRow("preview on") << true << 1800;
}

void TestDownloadE2e::replyAButNeverB()
{
    QFETCH(bool, preview);
    QFETCH(int, top);
    E2eRig rig(withFault(Fault::NeverB));
    rig.form->Check2->setChecked(preview);
    rig.load(testImage(1500));
    rig.click();
    rig.tick();
    QTRY_COMPARE_WITH_TIMEOUT(rig.step(), 2, 2000);

    // During the alarm: the panel is up, the run is already idle, and bytes that arrive are
    // read and dropped.
    int beeps = 0;
    bool panelOk = true;
    QByteArray wireDuringAlarm;
    rig.fp.tone.onBeep = [&] {
        ++beeps;
        panelOk = panelOk && !rig.form->Frame4->isHidden() &&
                  rig.form->Label1->text() == QStringLiteral("    连接失败   ") &&
                  rig.form->Label7->text() == QStringLiteral(" 请检查硬件连接") &&
                  rig.form->frame4TopTwips() == top && rig.step() == 0;
        if (beeps == 2) {
            wireDuringAlarm = rig.board.received();
            rig.board.writeRaw(QByteArray::fromHex("B1B2B32B1BD1D2D32D1D"));
        }
        if (beeps == 4) {
            QCOMPARE(rig.comm.InBufferCount(), 0);
            QCOMPARE(rig.board.received(), wireDuringAlarm);
        }
    };
    rig.ticks(53);
    QCOMPARE(rig.step(), 2);
    QCOMPARE(beeps, 0);
    rig.tick();
    QCOMPARE(beeps, 5);
    QVERIFY(panelOk);
    QVERIFY(rig.form->Frame4->isHidden());
    QCOMPARE(rig.status(), QStringLiteral("连接失败"));
    QVERIFY(rig.idle());
    // Eleven length frames: on the 1st, 5th, 10th ... 50th tick.
    QCOMPARE(rig.board.received(), downloadRequest + lengthFrame(1500).repeated(11));
}

void TestDownloadE2e::silenceMidImage()
{
    E2eRig rig(withFault(Fault::SilentAfter, 1));
    rig.load(testImage(3000));
    rig.click();
    rig.tick();
    QTRY_COMPARE_WITH_TIMEOUT(rig.step(), 2, 2000);
    rig.tick();
    QTRY_COMPARE_WITH_TIMEOUT(rig.form->download.BIN_BLOCK_NO, 1, 2000);
    rig.ticks(50);
    QCOMPARE(rig.step(), 3);
    rig.tick();
    QCOMPARE(rig.status(), QStringLiteral("下载失败"));
    QCOMPARE(rig.fp.tone.beeps.size(), 1 + 5);
    QVERIFY(rig.idle());
    QCOMPARE(rig.board.received(), downloadRequest + lengthFrame(3000) + rig.image.left(2048));
}

void TestDownloadE2e::noReplyD()
{
    E2eRig rig(withFault(Fault::NeverD));
    rig.load(testImage(1500));
    rig.click();
    rig.tick();
    QTRY_COMPARE_WITH_TIMEOUT(rig.step(), 2, 2000);
    rig.tick();
    QTRY_COMPARE_WITH_TIMEOUT(rig.step(), 4, 2000);
    rig.ticks(100);
    QCOMPARE(rig.step(), 4);
    QCOMPARE(rig.status(), QStringLiteral("下载进度：99%"));
    rig.click();
    QVERIFY(rig.idle());
    QCOMPARE(rig.status(), QStringLiteral("下载进度：99%"));
    QCOMPARE(rig.form->Shape2->widthTwips(), 8145.0);
}

void TestDownloadE2e::runWithoutImage()
{
    E2eRig rig;
    rig.form->ALL_KEY(true); // an unlock enables the button before any load
    rig.click();
    rig.tick();
    QTRY_COMPARE_WITH_TIMEOUT(rig.step(), 2, 2000);
    rig.tick();
    QTRY_COMPARE_WITH_TIMEOUT(rig.step(), 3, 2000);
    rig.ticks(50);
    QCOMPARE(rig.step(), 3);
    rig.tick();
    QCOMPARE(rig.status(), QStringLiteral("下载失败"));
    QVERIFY(rig.idle());
    QCOMPARE(rig.board.received(), downloadRequest + lengthFrame(0));
}

void TestDownloadE2e::ttyDisappearsMidRun()
{
    E2eRig rig(withFault(Fault::SilentAfter, 2));
    rig.load(testImage(70000));
    rig.click();
    rig.tick();
    QTRY_COMPARE_WITH_TIMEOUT(rig.step(), 2, 2000);
    rig.tick();
    QTRY_COMPARE_WITH_TIMEOUT(rig.form->download.BIN_BLOCK_NO, 2, 2000);
    rig.pullPlug();
    QTRY_VERIFY_WITH_TIMEOUT(!rig.comm.PortOpen(), 2000); // released at once
    QCOMPARE(rig.step(), 3);
    rig.ticks(51);
    QCOMPARE(rig.status(), QStringLiteral("下载失败"));
    QVERIFY(rig.idle());
    // With the device gone a new start only beeps.
    rig.click();
    QVERIFY(rig.idle());
}

void TestDownloadE2e::stopThenStartWithAutoReset()
{
    // The first run meets a silent board and is stopped on its third tick; the count it
    // leaves (3) carries over, and the new run's reset request is its third tick.
    E2eRig rig(withFault(Fault::NeverA));
    rig.load(testImage(2048));
    rig.setAutoReset(true);
    rig.click();
    for (int i = 0; i < 3; ++i)
        rig.tick(2);
    rig.click();
    QCOMPARE(rig.form->download.TICK_COUNT, qint16(3));
    const qsizetype firstRun = rig.board.received().size();

    Options answersAfterReset;
    answersAfterReset.autoResetOnly = true;
    rig.board.board().setOptions(answersAfterReset);
    rig.click();
    for (int i = 0; i < 3; ++i)
        rig.tick(5);
    QCOMPARE(rig.step(), 1);
    rig.tick();
    QTRY_COMPARE_WITH_TIMEOUT(rig.step(), 2, 2000);
    rig.tick();
    QTRY_COMPARE_WITH_TIMEOUT(rig.status(), success, 5000);
    QCOMPARE(rig.board.received().mid(firstRun), downloadRequest + downloadRequest + resetRequest +
                                                     downloadRequest + lengthFrame(2048) +
                                                     rig.image);
}

void TestDownloadE2e::virtualBoardProgram()
{
    // The board as its own program, against the window's real 10 ms timer.
    E2eRig rig;
    rig.load(testImage(70000));
    rig.setAutoReset(true);
    const QString expect = rig.home.filePath("expected.bin");
    const QString saved = rig.home.filePath("received.bin");
    {
        QFile f(expect);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(rig.image);
    }
    QProcess board;
    board.start(QStringLiteral(VBOARD_PATH), {"--config", rig.config, "--com", "4", "--once",
                                              "--expect", expect, "--save", saved});
    QVERIFY(board.waitForReadyRead(5000));
    QVERIFY(board.readLine().contains("COM4"));
    rig.form->ComboComm->setEditText(QStringLiteral("COM4"));
    rig.form->Timer1->start();
    rig.click();
    QTRY_COMPARE_WITH_TIMEOUT(rig.status(), success, 10000);
    QVERIFY(rig.idle());
    if (board.state() != QProcess::NotRunning)
        QVERIFY(board.waitForFinished(5000));
    QCOMPARE(board.exitStatus(), QProcess::NormalExit);
    QCOMPARE(board.exitCode(), 0);
    QVERIFY(board.readAllStandardOutput().contains("MATCH\n"));
    QFile got(saved);
    QVERIFY(got.open(QIODevice::ReadOnly));
    QCOMPARE(got.readAll(), rig.image);
    QVERIFY(!QFileInfo::exists(rig.config + "/ports/com4")); // the board took its link away
}

QTEST_MAIN(TestDownloadE2e)
#include "tst_download_e2e.moc"
