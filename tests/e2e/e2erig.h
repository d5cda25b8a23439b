#pragma once

#include "bootloader.h"
#include "fakedialogs.h"
#include "fakes.h"
#include "linkedboard.h"
#include "mainwindow.h"
#include "qtserialport.h"
#include "wire.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <memory>

// The status line after a whole download.
inline const QString success = QStringLiteral("       下载成功");

// A virtual board linked as COM3 in a fresh config folder, answering whenever events run.
struct BoardRig : BoardTray {
    static constexpr int com = 3;

    explicit BoardRig(const VBoard::Options &options = {}, int baud = 0) { plug(options, baud); }
    // A new board in place of the old one.
    void plug(const VBoard::Options &options = {}, int baud = 0)
    {
        board = &BoardTray::plug(com, options, baud);
    }
    void pullPlug() { unplug(com); }

    // Runs events as they come for `ms` ms (QTest::qWait sleeps too long between its rounds).
    static void settle(int ms)
    {
        QCoreApplication::processEvents();
        QEventLoop loop;
        QTimer::singleShot(ms, Qt::PreciseTimer, &loop, &QEventLoop::quit);
        loop.exec();
    }

    PtyBoard *board = nullptr;
};

// The window against the board, with fake tone, clock and pump; ticks driven by hand.
struct E2eRig : BoardRig {
    explicit E2eRig(const VBoard::Options &options = {}) : BoardRig(options)
    {
        port.setLockDir(home.path());
        start();
        fp.tone.beeps.clear();
    }

    // The program started (again) on the same config folder, with the image loaded before.
    void start()
    {
        form.reset();
        form = std::make_unique<MainWindow>(fp.platform, dialogs, port, config);
        form->download.setSelfTicking(false);
        form->startUp();
        if (!image.isEmpty())
            load(image);
    }

    void load(const QByteArray &data)
    {
        form->image = image = data;
        form->downloadButton->setEnabled(true);
    }
    void setAutoReset(bool on) { form->autoResetBox->setChecked(on); }
    void click() { form->downloadButton->click(); }

    // One tick, then the events it leaves behind, for at least `ms` milliseconds.
    void tick(int ms = 1)
    {
        form->download.tick();
        settle(ms);
    }
    void ticks(int n)
    {
        for (int i = 0; i < n; ++i)
            tick(0);
        settle(5);
    }
    // Ticks until the run ends or `limit` ticks have passed, awaiting the answer to a request.
    void runToEnd(int limit)
    {
        for (int i = 0, lengthTicks = 0; i < limit && step() != 0; ++i) {
            const int was = step();
            lengthTicks = was == 2 ? lengthTicks + 1 : 0;
            const bool asks = was == 1 || (was == 2 && Bootloader::isLengthFrameTick(lengthTicks));
            tick();
            for (int ms = 0; asks && step() == was && ms < 50; ++ms)
                settle(1);
        }
    }
    int step() const { return int(form->download.step()); }
    QString status() const { return form->statusLine->text(); }
    // Idle with every control unlocked, the port closed and the panel hidden.
    bool idle() const
    {
        bool unlocked = true;
        for (QWidget *w : std::initializer_list<QWidget *>{
                 form->downloadButton, form->loadButton, form->repeatButton, form->exitButton,
                 form->portBox, form->downloadRateBox, form->resetRateBox, form->autoResetBox,
                 form->previewBox})
            unlocked = unlocked && w->isEnabled();
        return unlocked && !form->download.isRunning() && !form->isDownloading() &&
               !port.isOpen() && form->noticePanel->isHidden() &&
               form->downloadButton->text() == QStringLiteral("单次下载");
    }

    QtSerialPort port;
    FakePlatform fp;
    FakeDialogs dialogs;
    std::unique_ptr<MainWindow> form;
    QByteArray image;
};
