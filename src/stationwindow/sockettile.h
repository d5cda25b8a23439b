#pragma once

#include "station.h"

#include <QColor>
#include <QFrame>

#include <optional>

class QLabel;
class QProgressBar;

// One watched port's tile: its name, its state in one word and a colour, the progress, and the
// port's own counts. Its children are named for tests and style sheets: "port", "state",
// "detail" (the percentage or the failure's reason), "progress", "lastResult" and "counts"; the
// tile's dynamic property "state" is "waiting", "flashing", "passed", "failed" or "interrupted".
class SocketTile : public QFrame
{
    Q_OBJECT
public:
    explicit SocketTile(QWidget *parent = nullptr);
    // Shows the socket; only what changed since the last call is redrawn.
    void showSocket(const Socket &socket);
    // The colour of the state word's badge.
    QColor stateColor() const;
    static QColor colorOf(Socket::State state);
    static const char *nameOf(Socket::State state);

protected:
    void changeEvent(QEvent *event) override;

private:
    void showState(Socket::State state);
    void showProgress(const Socket &socket);
    void describe(const QString &detail, const QString &last);

    QLabel *m_port;
    QLabel *m_state;
    QLabel *m_detail;
    QProgressBar *m_progress;
    QLabel *m_lastResult;
    QLabel *m_counts;
    std::optional<Socket::State> m_shownState;
};
