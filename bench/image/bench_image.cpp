// Measures the image load and its hex preview.
//
//   vantrel-bench-image [work folder]
//
// Without a display (no DISPLAY or WAYLAND_DISPLAY, no QT_QPA_PLATFORM) it runs offscreen.
//
// 1. The dump writer against xxd on the same files: 1 MiB, 16 MiB, 64 MiB - 1 of random bytes
//    (median of several runs each). xxd runs as a subprocess writing to /dev/null; the writer
//    is timed building the text in memory (UTF-16, as the preview's text) and end to end (read
//    the file, write the UTF-8 text to /dev/null, as xxd does).
// 2. For each size, a fresh process opens the main window with the preview on and loads the
//    file through the load button: time from the dialog's answer to the first rows painted
//    (at most 50 ms wanted), the longest stretch without an event-loop turn, the peak
//    resident memory (at most the image plus 60 MB wanted), and the time
//    to scroll to the last row and paint it.
#include "clock.h"
#include "eventpump.h"
#include "fonts.h"
#include "hexdump.h"
#include "hexpreview.h"
#include "mainwindow.h"
#include "platform.h"
#include "qtdialogs.h"
#include "qtserialport.h"
#include "tone.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <vector>

namespace
{

struct Size {
    const char *label;
    qint64 bytes;
    int runs;
};

const Size sizes[] = {
    {"1 MiB", 1 << 20, 9},
    {"16 MiB", 16 << 20, 5},
    {"64 MiB - 1", (qint64(64) << 20) - 1, 3},
};

double medianMs(int runs, const std::function<void()> &f)
{
    std::vector<double> t;
    for (int i = 0; i < runs; ++i) {
        QElapsedTimer timer;
        timer.start();
        f();
        t.push_back(timer.nsecsElapsed() / 1e6);
    }
    std::sort(t.begin(), t.end());
    return t[t.size() / 2];
}

QString makeImage(const QString &folder, const Size &s)
{
    const QString path = folder + QStringLiteral("/bench-%1.bin").arg(s.bytes);
    QFile f(path);
    if (f.exists() && f.size() == s.bytes)
        return path;
    QByteArray data(s.bytes, Qt::Uninitialized);
    QRandomGenerator rng(quint32(s.bytes));
    rng.fillRange(reinterpret_cast<quint32 *>(data.data()), s.bytes / 4);
    for (qint64 i = s.bytes / 4 * 4; i < s.bytes; ++i)
        data[i] = char(rng.bounded(256));
    if (!f.open(QIODevice::WriteOnly) || f.write(data) != s.bytes)
        qFatal("cannot write %s", qPrintable(path));
    return path;
}

qint64 peakRssKiB()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n'))
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').first().toLongLong();
    return -1;
}

void writerAgainstXxd(const QString &folder)
{
    std::printf("Dump text: this writer against xxd on the same file (median ms; ratio = xxd "
                "time / writer time)\n");
    std::printf("%-11s %9s %9s %9s %9s %9s %9s %8s\n", "image", "xxd", "utf16", "utf8", "file>null",
                "MiB/s", "xxd MiB/s", "ratio");
    for (const Size &s : sizes) {
        const QString path = makeImage(folder, s);
        QFile f(path);
        f.open(QIODevice::ReadOnly);
        const QByteArray data = f.readAll();
        f.close();

        const double xxd = medianMs(s.runs, [&] {
            QProcess p;
            p.setStandardOutputFile(QProcess::nullDevice());
            p.start(QStringLiteral("xxd"), {path});
            if (!p.waitForFinished(-1) || p.exitCode() != 0)
                qFatal("xxd failed");
        });
        qint64 sink = 0;
        const double utf16 = medianMs(s.runs, [&] { sink += HexDump::text(data).size(); });
        const double utf8 = medianMs(s.runs, [&] { sink += HexDump::utf8(data).size(); });
        const double endToEnd = medianMs(s.runs, [&] {
            QFile in(path);
            in.open(QIODevice::ReadOnly);
            const QByteArray bytes = in.readAll();
            QFile out(QStringLiteral("/dev/null"));
            out.open(QIODevice::WriteOnly);
            sink += out.write(HexDump::utf8(bytes));
        });
        const double mib = s.bytes / 1048576.0;
        std::printf("%-11s %9.1f %9.1f %9.1f %9.1f %9.0f %9.0f %7.1fx\n", s.label, xxd, utf16, utf8,
                    endToEnd, mib / (utf16 / 1000), mib / (xxd / 1000), xxd / utf16);
        if (sink == 42)
            std::printf(" ");
    }
    std::printf("(utf16: the preview's text in memory; utf8: the same in UTF-8; file>null: read "
                "the file, write the UTF-8 text to /dev/null, as xxd does)\n\n");
}

// ---------------------------------------------------------------- the window, in a child

class SilentTone : public Tone
{
public:
    void beep(int, int) override {}
};

class AnsweringDialogs : public QtDialogs
{
public:
    QString file;
    QElapsedTimer *answered = nullptr;
    QString getOpenFileName(QWidget *, const QString &) override
    {
        answered->start(); // the operator's choice is made: the load starts here
        return file;
    }
    void information(QWidget *, const QString &, const QString &text) override
    {
        std::fprintf(stderr, "notice: %s\n", qPrintable(text));
    }
};

// The longest stretch without an event-loop turn while watched: a 1 ms timer fires only when
// the loop runs, so the longest gap between two firings (or to the end) is the longest freeze.
struct FreezeWatch {
    FreezeWatch()
    {
        clock.start();
        turns.setTimerType(Qt::PreciseTimer);
        turns.setInterval(1);
        QObject::connect(&turns, &QTimer::timeout, [this] {
            const qint64 now = clock.nsecsElapsed();
            if (watching)
                longestGap = qMax(longestGap, now - lastTurn);
            lastTurn = now;
        });
        turns.start();
    }
    void begin()
    {
        lastTurn = clock.nsecsElapsed();
        watching = true;
    }
    void end()
    {
        longestGap = qMax(longestGap, clock.nsecsElapsed() - lastTurn);
        watching = false;
    }

    QElapsedTimer clock;
    QTimer turns;
    qint64 lastTurn = 0, longestGap = 0;
    bool watching = false;
};

// The load click, as the operator's (posted, so that it runs from the event loop), until the
// new dump's first rows are painted: nanoseconds from the dialog's answer.
qint64 loadUntilPainted(MainWindow &form, FreezeWatch &watch, const QElapsedTimer &sinceAnswer)
{
    quint64 paintsAfterBuild = 0;
    QTimer::singleShot(0, &form, [&] {
        watch.begin();
        form.onLoadClicked();
        paintsAfterBuild = form.hexPreview->paintCount();
    });
    for (;;) {
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        if (watch.watching && paintsAfterBuild > 0 &&
            form.hexPreview->paintCount() > paintsAfterBuild) {
            const qint64 loadNs = sinceAnswer.nsecsElapsed();
            watch.end();
            return loadNs;
        }
    }
}

int windowLoad(const QString &file)
{
    installFontSubstitutions();
    QTemporaryDir config;
    QDir(config.path()).mkpath(QStringLiteral("ports"));
    {
        QFile settings(config.path() + QStringLiteral("/VANTREL_SET.SB"));
        settings.open(QIODevice::WriteOnly);
        settings.write("XZBTL4\r\nFWBTL3\r\nRESET0\r\nYULAN1\r\n");
    }
    SilentTone tone;
    SteadyClock clock;
    QtEventPump pump;
    AnsweringDialogs dialogs;
    QElapsedTimer sinceAnswer;
    dialogs.file = file;
    dialogs.answered = &sinceAnswer;
    Platform platform{tone, clock, pump};
    QtSerialPort port;

    MainWindow form(platform, dialogs, port, config.path());
    form.startUp();
    form.show();
    for (int i = 0; i < 20; ++i)
        QCoreApplication::processEvents();
    const qint64 rssBefore = peakRssKiB();
    FreezeWatch watch;
    for (int i = 0; i < 5; ++i)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    const qint64 loadNs = loadUntilPainted(form, watch, sinceAnswer);
    if (form.image.size() != QFileInfo(file).size() || !form.hexPreview->showsDump())
        qFatal("the image was not loaded");

    // Scrolling to the last row and painting it.
    QElapsedTimer scroll;
    scroll.start();
    form.hexPreview->scrollToLine(form.hexPreview->lineCount());
    form.hexPreview->viewport()->repaint();
    const qint64 scrollNs = scroll.nsecsElapsed();

    std::printf("load_ms=%.1f freeze_ms=%.1f rss_before_mb=%.1f peak_rss_mb=%.1f "
                "scroll_ms=%.2f rows=%lld\n",
                loadNs / 1e6, watch.longestGap / 1e6, rssBefore / 1024.0, peakRssKiB() / 1024.0,
                scrollNs / 1e6, form.hexPreview->lineCount() - 2);
    return 0;
}

void windowLoads(const QString &folder, const QString &self)
{
    std::printf("Window: load click (from the dialog's answer) to the first rows painted, one "
                "fresh process per size\n");
    std::printf("%-11s %14s %10s %10s %10s %10s  %s\n", "image", "first rows ms", "freeze ms",
                "peak MB", "idle MB", "scroll ms", "limits");
    for (const Size &s : sizes) {
        const QString path = makeImage(folder, s);
        QProcess child;
        child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        child.start(self, {QStringLiteral("--window"), path});
        if (!child.waitForFinished(-1) || child.exitCode() != 0) {
            std::printf("%-11s failed (exit %d)\n", s.label, child.exitCode());
            continue;
        }
        QMap<QString, QString> v;
        for (const QByteArray &kv : child.readAllStandardOutput().trimmed().split(' ')) {
            const int eq = kv.indexOf('=');
            v[QString::fromLatin1(kv.left(eq))] = QString::fromLatin1(kv.mid(eq + 1));
        }
        const bool fast = v["load_ms"].toDouble() <= 50;
        const bool lean = v["peak_rss_mb"].toDouble() <= s.bytes / 1048576.0 + 60;
        std::printf("%-11s %14s %10s %10s %10s %10s  %s\n", s.label, qPrintable(v["load_ms"]),
                    qPrintable(v["freeze_ms"]), qPrintable(v["peak_rss_mb"]),
                    qPrintable(v["rss_before_mb"]), qPrintable(v["scroll_ms"]),
                    fast && lean ? "met"
                    : fast       ? "MEMORY OVER"
                    : lean       ? "TIME OVER"
                                 : "BOTH OVER");
    }
    std::printf("(freeze: longest time between two event-loop turns during the load; peak: "
                "VmHWM of the process; idle: VmHWM before the load; limits: first rows within "
                "50 ms, peak within the image + 60 MB)\n");
}

} // namespace

int main(int argc, char *argv[])
{
    // No display to open: draw offscreen rather than fail (the children inherit this).
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && qEnvironmentVariableIsEmpty("DISPLAY") &&
        qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    if (argc == 3 && QByteArray(argv[1]) == "--window") {
        QApplication app(argc, argv);
        return windowLoad(QString::fromLocal8Bit(argv[2]));
    }
    QCoreApplication app(argc, argv);
    QTemporaryDir tmp;
    const QString folder = argc > 1 ? QString::fromLocal8Bit(argv[1]) : tmp.path();
    QDir().mkpath(folder);
    std::setvbuf(stdout, nullptr, _IONBF, 0);
    writerAgainstXxd(folder);
    windowLoads(folder, QCoreApplication::applicationFilePath());
    return 0;
}
