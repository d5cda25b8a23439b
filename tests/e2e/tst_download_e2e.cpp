// Whole downloads: the window and the real serial port against a virtual board, byte for byte.
#include "e2erig.h"

#include <QProcess>

using VBoard::Fault;

// One run: the board, the image (length 0: none loaded), the boxes, the ticks by which it has
// ended, the status line then and everything the board received.
struct Run {
    VBoard::Options board;
    int length = 1500;
    bool autoReset = false, preview = false;
    int ticks = 1000;
    QString status = success;
    QByteArray wire;
};
Q_DECLARE_METATYPE(Run)

class TestDownloadE2e : public QObject
{
    Q_OBJECT
private slots:
    void runs_data()
    {
        QTest::addColumn<Run>("run");
        const QByteArray &req = downloadRequest;
        // clang-format off
        for (int length : {100, 1500, 2048, 70000})
            for (bool autoReset : {false, true})
                QTest::addRow("%d%s", length, autoReset ? ", auto reset" : "") << Run{.board = {}, .length = length, .autoReset = autoReset, .wire = (autoReset ? resetRequest : QByteArray()) + req + lengthFrame(length) + testImage(length)};
        QTest::newRow("answers the 3rd request after a reset") << Run{.board = {.autoResetOnly = true, .answerRequest = 3}, .autoReset = true, .wire = resetRequest + req.repeated(3) + lengthFrame(1500) + testImage(1500)};
        QTest::newRow("stray byte before B") << Run{.board = {.fault = Fault::StrayByte}, .wire = req + lengthFrame(1500).repeated(2) + testImage(1500)};
        QTest::newRow("A, never B") << Run{.board = {.fault = Fault::NeverB}, .status = "连接失败", .wire = req + lengthFrame(1500).repeated(11)};
        // The 51st tick of step 3 (the 53rd in all) ends the run.
        QTest::newRow("silent from the first block, preview on") << Run{.board = {.fault = Fault::SilentAfter, .silentAfter = 0}, .length = 3000, .preview = true, .ticks = 53, .status = "下载失败", .wire = req + lengthFrame(3000) + testImage(1024)};
        QTest::newRow("no image") << Run{.board = {}, .length = 0, .status = "下载失败", .wire = req + lengthFrame(0)};
        // clang-format on
    }

    void runs()
    {
        QFETCH(Run, run);
        const QString &status = run.status;
        E2eRig rig(run.board);
        run.length ? rig.load(testImage(run.length)) : rig.form->setControlsEnabled(true);
        rig.setAutoReset(run.autoReset);
        rig.form->previewBox->setChecked(run.preview);
        // During the alarm the panel is up, the run idle, and arriving bytes are dropped.
        int alarm = 0;
        rig.fakes.tone.onBeep = [&] {
            if (rig.form->noticePanel->isHidden())
                return; // a click's beep
            QCOMPARE(rig.step(), 0);
            QCOMPARE(rig.form->noticeLine1->text() + '|' + rig.form->noticeLine2->text(),
                     "    " + status + QStringLiteral("   | 请检查硬件连接"));
            QCOMPARE(rig.form->noticePanelTopTwips(), run.preview ? 1800 : 300);
            if (++alarm == 2)
                rig.board->writeRaw(reply('B') + reply('D'));
            if (alarm == 4) // read and dropped
                QTRY_COMPARE(rig.board->unreadByHost(), 0);
        };
        rig.click();
        QCOMPARE(rig.status(), QStringLiteral("连接中……"));
        rig.runToEnd(run.ticks);
        QCOMPARE(rig.status(), status);
        QVERIFY(rig.idle());
        QCOMPARE(rig.board->received(), run.wire);
        QCOMPARE(alarm, status.endsWith(QStringLiteral("失败")) ? 5 : 0);
        QCOMPARE(rig.fakes.tone.beeps.size(), 1 + alarm); // success is silent
        if (status == success)
            QCOMPARE(rig.form->progressFill->widthTwips(), 8145.0); // the last block's width stays
    }

    void virtualBoardProgram()
    {
        // The board as its own program, against the window's real timer, ticking only in a run.
        E2eRig rig;
        rig.load(testImage(70000));
        const QString expect = rig.writeFile("expected.bin", rig.image);
        QProcess board;
        board.start(VBOARD_PATH,
                    {"--config", rig.config, "--com", "4", "--once", "--expect", expect});
        QVERIFY(board.waitForReadyRead(5000)); // plugged
        rig.form->portBox->setEditText(QStringLiteral("COM4"));
        rig.form->download.setSelfTicking(true);
        QVERIFY(!rig.form->download.isTicking()); // the idle window sleeps: no 10 ms tick
        rig.click();
        QTRY_COMPARE_WITH_TIMEOUT(rig.status(), success, 10000);
        QVERIFY(rig.idle() && !rig.form->download.isTicking());
        QVERIFY(board.state() == QProcess::NotRunning || board.waitForFinished(5000));
        QCOMPARE(board.exitCode(), 0);
        QVERIFY(board.readAllStandardOutput().endsWith("MATCH\n"));
    }
};

QTEST_MAIN(TestDownloadE2e)
#include "tst_download_e2e.moc"
