#pragma once

#include "ptyboard.h"

#include <QFile>
#include <QSocketNotifier>
#include <QTimer>

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
