#pragma once

#include "bootloader.h"
#include "windowrig.h"
#include "wire.h"

// The status line after a whole download.
inline const QString success = QStringLiteral("       下载成功");

// The window against a virtual board linked as COM3, with fake tone, clock and pump; ticks by hand.
struct E2eRig : WindowRigOn<QtSerialPort> {
    static constexpr int com = 3;

    explicit E2eRig(const VBoard::Options &options = {})
    {
        plug(options);
        port.setLockDir(home.path());
        start();
        fakes.tone.beeps.clear();
    }
    void plug(const VBoard::Options &options = {}) { board = &BoardTray::plug(com, options); }
    void pullPlug() { unplug(com); }

    // The program started (again) on the same config folder, with the image loaded before.
    void start()
    {
        WindowRigOn::start();
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

    // Runs events as they come for `ms` ms (QTest::qWait sleeps too long between its rounds).
    static void settle(int ms)
    {
        QCoreApplication::processEvents();
        QEventLoop loop;
        QTimer::singleShot(ms, Qt::PreciseTimer, &loop, &QEventLoop::quit);
        loop.exec();
    }
    void tick(int ms = 1) { form->download.tick(), settle(ms); }
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
        return shown().section('|', 1, 3) == QStringLiteral("单次下载|unlocked|closed") &&
               form->downloadButton->isEnabled() && form->repeatButton->isEnabled() &&
               !form->download.isRunning() && !form->isDownloading() &&
               form->noticePanel->isHidden();
    }

    PtyBoard *board = nullptr;
    QByteArray image;
};
