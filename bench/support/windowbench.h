#pragma once

// What the speed benchmarks share: the virtual board in a thread of its own on a
// pseudo-terminal linked as COM1 of a fresh config folder, and the window wired to that folder
// with the real serial port, timer, clock and event pump.
#include "clock.h"
#include "dialogs.h"
#include "eventpump.h"
#include "mainwindow.h"
#include "platform.h"
#include "ptyboard.h"
#include "qtserialport.h"
#include "tone.h"

#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QPushButton>
#include <QTemporaryDir>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <thread>
#include <vector>

namespace WindowBench
{

// Blocks for the tone's length, as the platform's tone does, without a sound device.
class SleepingTone : public Tone
{
public:
    void beep(int, int ms) override { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }
};

class NoDialogs : public Dialogs
{
public:
    QString getOpenFileName(QWidget *, const QString &) override { return {}; }
    void information(QWidget *, const QString &, const QString &text) override
    {
        std::fprintf(stderr, "notice: %s\n", qPrintable(text));
    }
};

inline const QString successText = QStringLiteral("       下载成功");

inline QByteArray benchImage(int length)
{
    QByteArray data(length, '\0');
    for (int i = 0; i < length; ++i)
        data[i] = char((i * 131 + 17) & 0xFF);
    return data;
}

// The p-th percentile (0..100) of `v`; 50 is the median.
inline double percentile(std::vector<double> v, double p)
{
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, size_t(p / 100.0 * double(v.size() - 1) + 0.5))];
}

// From the last byte of each reply C the board wrote to the last byte of the next block it
// read, in microseconds.
inline std::vector<double> turnarounds(const std::vector<PtyBoard::Event> &trace)
{
    std::vector<double> us;
    for (size_t i = 0; i + 1 < trace.size(); ++i)
        if (trace[i].what == 'C' && trace[i + 1].what == 'b')
            us.push_back(double(trace[i + 1].ns - trace[i].ns) / 1000.0);
    return us;
}

// The board on COM1 of a fresh config folder, which XDG_CONFIG_HOME names for this process
// and the programs it starts.
struct BoardOnCom1 {
    explicit BoardOnCom1(const PtyBoard::Settings &settings) : board(settings)
    {
        qputenv("XDG_CONFIG_HOME", home.path().toLocal8Bit());
        QDir().mkpath(config + QStringLiteral("/ports"));
        if (!board.open())
            qFatal("no pseudo-terminal");
        QFile::link(board.slavePath(), config + QStringLiteral("/ports/com1"));
        board.tracing = true;
        start();
    }
    ~BoardOnCom1() { stop(); }
    void start()
    {
        thread = std::thread([this] { board.run(false); });
    }
    void stop()
    {
        board.stop();
        if (thread.joinable())
            thread.join();
    }
    // The board's events since the last call, taken with the board stopped.
    std::vector<PtyBoard::Event> takeTrace()
    {
        stop();
        std::vector<PtyBoard::Event> trace;
        trace.swap(board.trace);
        start();
        return trace;
    }

    QTemporaryDir home;
    QString config = home.path() + QStringLiteral("/vantrel");
    PtyBoard board;
    std::thread thread;
};

// The window on COM1 of `config`: no automatic reset, 115200 baud.
struct Window {
    explicit Window(const QString &config) : form(platform, dialogs, port, config)
    {
        form.startUp();
        form.autoResetBox->setChecked(false);
        form.downloadRateBox->setCurrentIndex(
            form.downloadRateBox->findText(QStringLiteral("115200")));
    }

    // Loads `image`, clicks "单次下载" and runs events until the status line reads success;
    // the seconds from the click, or -1 when the run did not succeed within two minutes.
    double download(const QByteArray &image)
    {
        form.image = image;
        form.downloadButton->setEnabled(true);
        const auto start = std::chrono::steady_clock::now();
        form.downloadButton->click();
        const auto limit = start + std::chrono::seconds(120);
        while (form.statusLine->text() != successText && std::chrono::steady_clock::now() < limit)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
        if (form.statusLine->text() == successText)
            return took.count();
        std::fprintf(stderr, "download did not finish: \"%s\"\n",
                     qPrintable(form.statusLine->text()));
        return -1;
    }

    SleepingTone tone;
    SteadyClock clock;
    QtEventPump pump;
    NoDialogs dialogs;
    Platform platform{tone, clock, pump};
    QtSerialPort port;
    MainWindow form;
};

} // namespace WindowBench
