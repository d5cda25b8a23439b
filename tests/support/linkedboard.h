#pragma once

#include "files.h"
#include "ptyboard.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QSocketNotifier>
#include <QTemporaryDir>
#include <QTimer>

#include <functional>
#include <map>
#include <memory>

// A virtual board on a fresh pseudo-terminal, linked as `link` (a comN of a ports folder) and
// answering whenever the test's events run.
struct LinkedBoard {
    LinkedBoard(const QString &link, const VBoard::Options &options = {}, int baud = 0)
        : board(std::make_unique<PtyBoard>(PtyBoard::Settings{options, baud, 0}))
    {
        if (!board->open())
            qFatal("no pseudo-terminal");
        QFile::remove(link);
        QFile::link(board->slavePath(), link);
        wake.setSingleShot(true);
        wake.setTimerType(Qt::PreciseTimer);
        QObject::connect(&wake, &QTimer::timeout, [this] { service(); });
        notifier = std::make_unique<QSocketNotifier>(board->masterFd(), QSocketNotifier::Read);
        QObject::connect(notifier.get(), &QSocketNotifier::activated, [this] { service(); });
    }

    void service()
    {
        const int64_t next = board->service();
        if (next >= 0)
            wake.start(int(qMax<int64_t>(0, (next - PtyBoard::nowNs() + 999'999) / 1'000'000)));
    }

    // The adapter pulled out under the open port.
    void pullPlug()
    {
        notifier->setEnabled(false);
        wake.stop();
        board->closeMaster();
    }

    std::unique_ptr<PtyBoard> board;
    std::unique_ptr<QSocketNotifier> notifier; // after the terminal is open
    QTimer wake;
};

// Runs events as they come (the boards answer in them) until `done` holds or `ms` have passed.
inline bool waitUntil(const std::function<bool()> &done, int ms = 15000)
{
    QElapsedTimer t;
    t.start();
    while (!done() && t.elapsed() < ms)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    return done();
}

// Boards linked as COMn in a fresh config folder, which the test's programs use.
struct BoardTray {
    BoardTray() : config(home.filePath(QStringLiteral("vantrel")))
    {
        qputenv("XDG_CONFIG_HOME", home.path().toLocal8Bit());
        QDir().mkpath(config + QStringLiteral("/ports"));
    }
    QString link(int com) const { return config + QStringLiteral("/ports/com%1").arg(com); }
    // A new board on COM `com`, in place of any there before.
    PtyBoard &plug(int com, const VBoard::Options &options = {}, int baud = 0)
    {
        bays[com] = std::make_unique<LinkedBoard>(link(com), options, baud);
        return board(com);
    }
    // The adapter pulled out under the open port; with `unlink` its link goes too.
    void unplug(int com, bool unlink = false)
    {
        if (unlink)
            QFile::remove(link(com));
        bays[com]->pullPlug();
    }
    PtyBoard &board(int com) { return *bays[com]->board; }
    QString writeFile(const QString &name, const QByteArray &data)
    {
        writeBytes(home.filePath(name), data);
        return home.filePath(name);
    }

    QTemporaryDir home;
    QString config;
    std::map<int, std::unique_ptr<LinkedBoard>> bays;
};
