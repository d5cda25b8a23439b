#pragma once

#include "fakes.h"
#include "form1.h"
#include "portmap.h"
#include "ptyboard.h"
#include "qtserialcomponent.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QPushButton>
#include <QSocketNotifier>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <memory>

// The whole program against a virtual board on a real pseudo-terminal: the main window with
// the real serial component and port map (COM3 is a link to the board's terminal), and the
// fake tone, clock and pump (beeps and the alarm's delays take no time). The board runs in the
// test's own event loop, so it answers whenever the program runs events: inside a tick's
// pumping, between ticks, during the failure alarm.
struct E2eRig {
    static constexpr int com = 3;

    explicit E2eRig(const VBoard::Options &options = {})
        : board(settingsFor(options)), config(prepareConfig(home)), ports(config), comm(ports)
    {
        if (!board.open())
            qFatal("no pseudo-terminal");
        QFile::link(board.slavePath(), config + QStringLiteral("/ports/com%1").arg(com));
        comm.setLockDir(home.path());
        notifier = std::make_unique<QSocketNotifier>(board.masterFd(), QSocketNotifier::Read);
        QObject::connect(notifier.get(), &QSocketNotifier::activated, [this] { serviceBoard(); });
        wake.setSingleShot(true);
        wake.setTimerType(Qt::PreciseTimer);
        QObject::connect(&wake, &QTimer::timeout, [this] { serviceBoard(); });
        form = std::make_unique<Form1>(fp.platform, comm, config);
        form->Timer1->stop(); // ticks are driven by hand unless a test starts the timer
        form->Form_Load();
        fp.tone.beeps.clear();
    }

    // No pacing, and a download the host leaves is never given up.
    static PtyBoard::Settings settingsFor(const VBoard::Options &options)
    {
        return {options, 0, 0};
    }
    static QString prepareConfig(QTemporaryDir &home)
    {
        qputenv("XDG_CONFIG_HOME", home.path().toLocal8Bit());
        QDir().mkpath(home.filePath("vantrel/ports"));
        return home.filePath("vantrel");
    }

    void serviceBoard()
    {
        const int64_t next = board.service();
        if (next >= 0)
            wake.start(int(qMax<int64_t>(0, (next - PtyBoard::nowNs() + 999'999) / 1'000'000)));
    }

    // The adapter pulled out under the open port.
    void pullPlug()
    {
        notifier->setEnabled(false);
        wake.stop();
        board.closeMaster();
    }

    void load(const QByteArray &data)
    {
        form->image.replaceImage(image = data);
        form->Command1->setEnabled(true);
    }
    void setAutoReset(bool on) { form->Check1->setChecked(on); }
    void click() { form->Command1->click(); }

    // One tick, then the events it leaves behind, for at least `ms` milliseconds.
    void tick(int ms = 1)
    {
        form->Timer1_Timer();
        settle(ms);
    }
    void ticks(int n)
    {
        for (int i = 0; i < n; ++i)
            tick(0);
        settle(5);
    }
    static void settle(int ms)
    {
        QCoreApplication::processEvents();
        QTest::qWait(ms);
    }

    int step() const { return form->download.DOWN_STEP; }
    QString status() const { return form->Label8->text(); }
    bool idle() const
    {
        return !form->download.DOWN_STEP && !form->download.DOWN_ACTIVE && !comm.PortOpen() &&
               form->Command1->text() == QStringLiteral("单次下载") &&
               form->Command1->isEnabled() && form->Command2->isEnabled() &&
               form->ComboComm->isEnabled() && form->Check1->isEnabled();
    }

    PtyBoard board;
    QTemporaryDir home;
    QString config;
    PortMap ports;
    QtSerialComponent comm;
    FakePlatform fp;
    std::unique_ptr<Form1> form;
    std::unique_ptr<QSocketNotifier> notifier;
    QTimer wake;
    QByteArray image;
};

inline QByteArray testImage(int length)
{
    QByteArray data(length, '\0');
    for (int i = 0; i < length; ++i)
        data[i] = char((i * 31 + i / 1024 * 7) & 0xFF);
    return data;
}

inline QByteArray lengthFrame(int length)
{
    const int n = length / 1024, r = length % 1024;
    const char field[4] = {char(n >> 8), char(n & 0xFF), char(r >> 8), char(r & 0xFF)};
    return QByteArray::fromHex("B1B2B3") + QByteArray(field, 4) + QByteArray::fromHex("1B2B3B");
}

inline const QByteArray downloadRequest = QByteArray::fromHex("444D46");
inline const QByteArray resetRequest =
    QByteArray::fromHex("F1F2F3F4F5E1E2E3E4E55D4D3D2D1D5C4C3C2C1C");
