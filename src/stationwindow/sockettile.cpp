#include "sockettile.h"

#include "stationtexts.h"

#include <QBoxLayout>
#include <QEvent>
#include <QLabel>
#include <QProgressBar>

namespace
{

QLabel *addLabel(QBoxLayout *layout, const char *name)
{
    auto *label = new QLabel;
    label->setObjectName(name);
    layout->addWidget(label);
    return label;
}

// Keeps the place of a widget that comes and goes, so the tiles do not jump.
void keepPlace(QWidget *widget)
{
    QSizePolicy policy = widget->sizePolicy();
    policy.setRetainSizeWhenHidden(true);
    widget->setSizePolicy(policy);
}

QString joinShown(QStringList parts, const QString &separator)
{
    parts.removeAll(QString());
    return parts.join(separator);
}

// The run's progress, 0 to 100.
int percentOf(const Socket &socket)
{
    return qBound(0, socket.percent(), 100);
}

void setText(QLabel *label, const QString &text)
{
    if (label->text() != text)
        label->setText(text);
    label->setVisible(!text.isEmpty());
}

} // namespace

SocketTile::SocketTile(QWidget *parent) : QFrame(parent)
{
    setFrameShape(QFrame::StyledPanel);
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Maximum);
    auto *column = new QVBoxLayout(this);
    m_port = addLabel(column, "port");
    QFont big = m_port->font();
    big.setBold(true);
    big.setPointSizeF(big.pointSizeF() * 1.3);
    m_port->setFont(big);

    auto *stateRow = new QHBoxLayout;
    column->addLayout(stateRow);
    m_state = addLabel(stateRow, "state");
    m_state->setAutoFillBackground(true);
    m_state->setMargin(3);
    QFont bold = m_state->font();
    bold.setBold(true);
    bold.setPointSizeF(bold.pointSizeF() * 1.15);
    m_state->setFont(bold);
    m_detail = addLabel(stateRow, "detail");
    stateRow->addStretch();

    m_progress = new QProgressBar;
    m_progress->setObjectName("progress");
    m_progress->setRange(0, 100);
    m_progress->setTextVisible(false); // the percentage is in words beside the state
    m_progress->setMaximumHeight(m_progress->fontMetrics().height() / 2 + 2);
    keepPlace(m_progress);
    column->addWidget(m_progress);
    m_lastResult = addLabel(column, "lastResult");
    keepPlace(m_lastResult);
    m_counts = addLabel(column, "counts");
    showSocket(Socket());
}

void SocketTile::showSocket(const Socket &socket)
{
    if (m_port->text() != socket.port) {
        m_port->setText(socket.port);
        setAccessibleName(socket.port);
        m_progress->setAccessibleName(socket.port);
    }
    const QString tip = joinShown({socket.device, socket.byId}, "\n");
    if (toolTip() != tip)
        setToolTip(tip);
    showState(socket.state);
    const QString detail = socket.state == Socket::State::Flashing
                               ? QStringLiteral("%1%").arg(percentOf(socket))
                           : socket.state == Socket::State::Failed ? reasonWords(socket.ending)
                                                                   : QString();
    setText(m_detail, detail);
    showProgress(socket);
    const QString last =
        socket.state == Socket::State::Waiting ? lastResultText(socket) : QString();
    setText(m_lastResult, last);
    setText(m_counts, countsText(socket));
    describe(detail, last);
}

void SocketTile::changeEvent(QEvent *event)
{
    if (event->type() == QEvent::LanguageChange)
        m_shownState.reset(); // the state word is words again at the next showSocket()
    QFrame::changeEvent(event);
}

QColor SocketTile::stateColor() const
{
    return colorOf(m_shownState.value_or(Socket::State::Waiting));
}

// Dark enough for white words on them to read well (a contrast of 4.5 or more).
QColor SocketTile::colorOf(Socket::State state)
{
    switch (state) {
    case Socket::State::Waiting:
        return QColor(0x61, 0x61, 0x61); // grey
    case Socket::State::Flashing:
        return QColor(0x15, 0x65, 0xc0); // blue
    case Socket::State::Passed:
        return QColor(0x2e, 0x7d, 0x32); // green
    case Socket::State::Failed:
        return QColor(0xc6, 0x28, 0x28); // red
    case Socket::State::Interrupted:
        return QColor(0x8d, 0x6e, 0x00); // amber
    }
    return QColor();
}

const char *SocketTile::nameOf(Socket::State state)
{
    switch (state) {
    case Socket::State::Waiting:
        return "waiting";
    case Socket::State::Flashing:
        return "flashing";
    case Socket::State::Passed:
        return "passed";
    case Socket::State::Failed:
        return "failed";
    case Socket::State::Interrupted:
        return "interrupted";
    }
    return "";
}

// The badge's colour and word change only with the state, a few times per board.
void SocketTile::showState(Socket::State state)
{
    if (m_shownState == state)
        return;
    m_shownState = state;
    QPalette palette = m_state->palette();
    palette.setColor(QPalette::Window, colorOf(state));
    palette.setColor(QPalette::WindowText, Qt::white);
    m_state->setPalette(palette);
    Socket shown;
    shown.state = state;
    m_state->setText(stateWord(shown));
    setProperty("state", nameOf(state));
}

void SocketTile::showProgress(const Socket &socket)
{
    const bool flashing = socket.state == Socket::State::Flashing;
    if (flashing)
        m_progress->setValue(percentOf(socket));
    m_progress->setVisible(flashing);
}

// What a screen reader says of the tile beyond its name: the visible words, in order.
void SocketTile::describe(const QString &detail, const QString &last)
{
    const QString state = joinShown({m_state->text(), detail}, " ");
    const QString description = joinShown({state, last, m_counts->text()}, ", ");
    if (accessibleDescription() != description)
        setAccessibleDescription(description);
}
