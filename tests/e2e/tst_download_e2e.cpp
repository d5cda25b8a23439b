// Whole downloads: the window and the real serial component against a virtual board on a
// pseudo-terminal, checked byte for byte on the wire.
#include "e2erig.h"
#include "shape.h"

#include <QProcess>

using VBoard::Fault;
Q_DECLARE_METATYPE(VBoard::Options)

class TestDownloadE2e : public QObject
{
    Q_OBJECT
private slots:
    void runs_data()
    {
        QTest::addColumn<VBoard::Options>("board");
        QTest::addColumn<int>("length"); // of the image; 0: none loaded
        QTest::addColumn<bool>("autoReset");
        QTest::addColumn<bool>("preview");
        QTest::addColumn<int>("ticks"); // by which the run has ended
        QTest::addColumn<QString>("status");
        QTest::addColumn<QByteArray>("wire"); // everything the board received
        // clang-format off
        for (int length : {100, 1500, 2048, 70000})
            for (bool autoReset : {false, true})
                QTest::addRow("%d%s", length, autoReset ? ", auto reset" : "") << VBoard::Options{} << length << autoReset << false << 1000 << success
                    << (autoReset ? resetRequest : QByteArray()) + downloadRequest + lengthFrame(length) + testImage(length);
        QTest::newRow("answers the 3rd request after a reset") << VBoard::Options{.autoResetOnly = true, .answerRequest = 3} << 1500 << true << false << 1000 << success
            << resetRequest + downloadRequest.repeated(3) + lengthFrame(1500) + testImage(1500);
        // 00 B1 B2 B3 2B does not match: the frame goes out again on the 5th tick.
        QTest::newRow("stray byte before B") << VBoard::Options{.fault = Fault::StrayByte} << 1500 << false << false << 1000 << success
            << downloadRequest + lengthFrame(1500).repeated(2) + testImage(1500);
        QTest::newRow("A, never B") << VBoard::Options{.fault = Fault::NeverB} << 1500 << false << false << 1000 << "连接失败"
            << downloadRequest + lengthFrame(1500).repeated(11);
        // Silent from the first block: the 51st tick of step 3 (the 53rd in all) ends the run.
        QTest::newRow("silent from the first block, preview on") << VBoard::Options{.fault = Fault::SilentAfter, .silentAfter = 0} << 3000 << false << true << 53 << "下载失败"
            << downloadRequest + lengthFrame(3000) + testImage(1024);
        QTest::newRow("no image") << VBoard::Options{} << 0 << false << false << 1000 << "下载失败" << downloadRequest + lengthFrame(0);
        // clang-format on
    }

    void runs()
    {
        QFETCH(VBoard::Options, board);
        QFETCH(int, length);
        QFETCH(bool, autoReset);
        QFETCH(bool, preview);
        QFETCH(int, ticks);
        QFETCH(QString, status);
        E2eRig rig(board);
        if (length)
            rig.load(testImage(length));
        else
            rig.form->setControlsEnabled(true); // an unlock enables the button before any load
        rig.setAutoReset(autoReset);
        rig.form->previewBox->setChecked(preview);
        // During the alarm the panel is up, the run idle, and arriving bytes are dropped.
        int alarm = 0;
        rig.fakes.tone.onBeep = [&] {
            if (rig.form->noticePanel->isHidden())
                return; // a click's beep
            QCOMPARE(rig.step(), 0);
            QCOMPARE(rig.form->noticeLine1->text(), "    " + status + "   ");
            QCOMPARE(rig.form->noticeLine2->text(), QStringLiteral(" 请检查硬件连接"));
            QCOMPARE(rig.form->noticePanelTopTwips(), preview ? 1800 : 300);
            if (++alarm == 2)
                rig.board->writeRaw(reply('B') + reply('D'));
            if (alarm == 4) // read and dropped
                QTRY_COMPARE(rig.board->unreadByHost(), 0);
        };
        rig.click();
        QCOMPARE(rig.status(), QStringLiteral("连接中……"));
        rig.runToEnd(ticks);
        QCOMPARE(rig.status(), status);
        QVERIFY(rig.idle());
        QTEST(rig.board->received(), "wire");
        QCOMPARE(alarm, status.endsWith(QStringLiteral("失败")) ? 5 : 0);
        QCOMPARE(rig.fakes.tone.beeps.size(), 1 + alarm); // success is silent
        if (status == success)
            QCOMPARE(rig.form->progressFill->widthTwips(), 8145.0); // the last block's width stays
    }

    void virtualBoardProgram()
    {
        // The board as its own program, against the window's real 10 ms timer, which runs only
        // while a download does.
        E2eRig rig;
        rig.load(testImage(70000));
        rig.setAutoReset(true);
        const QString expect = rig.writeFile("expected.bin", rig.image);
        for (const char *refused : {"0", "17"}) // the window lists COM1 to COM16 only
            QCOMPARE(QProcess::execute(VBOARD_PATH, {"--com", refused, "--config", rig.config}), 2);
        QProcess board;
        board.start(VBOARD_PATH,
                    {"--config", rig.config, "--com", "4", "--once", "--expect", expect});
        QVERIFY(board.waitForReadyRead(5000));
        QVERIFY(board.readLine().contains("COM4"));
        rig.form->portBox->setEditText(QStringLiteral("COM4"));
        rig.form->download.setSelfTicking(true);
        QVERIFY(!rig.form->download.isTicking()); // the idle window sleeps: no 10 ms tick
        rig.click();
        QTRY_COMPARE_WITH_TIMEOUT(rig.status(), success, 10000);
        QVERIFY(rig.idle() && !rig.form->download.isTicking());
        QVERIFY(board.state() == QProcess::NotRunning || board.waitForFinished(5000));
        QCOMPARE(board.exitCode(), 0);
        QVERIFY(board.readAllStandardOutput().endsWith("MATCH\n"));
        QVERIFY(!QFileInfo::exists(rig.config + "/ports/com4")); // the board took its link away
    }
};

QTEST_MAIN(TestDownloadE2e)
#include "tst_download_e2e.moc"
