#include "stationlines.h"

#include "runtext.h"

#include <QStringView>

namespace
{

// How much a port line tells. Each level leaves out more: the bar shrinks and goes, then the
// failure's reason, then the counts (and where the counts could not stay, the reason comes back
// if it fits without them).
struct Detail {
    int bar;     // marks of the progress bar; 0: the percentage alone
    bool reason; // a failure's reason
    bool counts; // the port's counts
};
const Detail levels[] = {
    {20, true, true}, {10, true, true}, {0, true, true},
    {0, false, true}, {0, true, false}, {0, false, false},
};

// The widest step name, so that the bars line up.
constexpr int stepWidth = 10;

bool isWide(char32_t u)
{
    return (u >= 0x1100 && u <= 0x115f) || (u >= 0x2e80 && u <= 0xa4cf && u != 0x303f) ||
           (u >= 0xac00 && u <= 0xd7a3) || (u >= 0xf900 && u <= 0xfaff) ||
           (u >= 0xfe30 && u <= 0xfe4f) || (u >= 0xff00 && u <= 0xff60) ||
           (u >= 0xffe0 && u <= 0xffe6) || (u >= 0x1f300 && u <= 0x1faff) ||
           (u >= 0x20000 && u <= 0x3fffd);
}

int charColumns(char32_t u)
{
    return isWide(u) ? 2 : 1;
}

// `text` cut to at most `width` columns, never inside a character.
QString cut(const QString &text, int width)
{
    int used = 0;
    qsizetype end = 0;
    for (const char32_t u : QStringView(text).toUcs4()) {
        used += charColumns(u);
        if (used > width)
            break;
        end += QChar::requiresSurrogates(u) ? 2 : 1;
    }
    return text.left(end);
}

QString padded(const QString &text, int width)
{
    return text + QString(qMax(0, width - columnsOf(text)), u' ');
}

QString lastResult(const Socket &s, bool reason)
{
    if (s.ending == Ending::Success)
        return QStringLiteral("last: passed");
    return reason ? QStringLiteral("last: failed, ") + shortReason(s.ending)
                  : QStringLiteral("last: failed");
}

QString stateText(const Socket &s, const Detail &d)
{
    switch (s.state) {
    case Socket::State::Waiting:
        return s.ran ? QStringLiteral("waiting, ") + lastResult(s, d.reason)
                     : QStringLiteral("waiting");
    case Socket::State::Flashing: {
        const QString step = s.step == 0 ? QStringLiteral("opening") : stepName(s.step);
        const QString progress = d.bar > 0 ? percentBar(s.bytesSent, s.bytes, d.bar)
                                           : QStringLiteral("%1%").arg(s.percent(), 3);
        return QStringLiteral("flashing ") + padded(step, stepWidth) + u' ' + progress;
    }
    case Socket::State::Passed:
        return QStringLiteral("passed");
    case Socket::State::Failed:
        return d.reason ? QStringLiteral("failed: ") + shortReason(s.ending)
                        : QStringLiteral("failed");
    case Socket::State::Interrupted:
        return QStringLiteral("interrupted");
    }
    return QString();
}

QString countsText(const Socket &s)
{
    return QStringLiteral("%1 passed, %2 failed").arg(s.passed).arg(s.failed);
}

// The port lines at one level of detail, in columns: name, state, counts.
QStringList portLines(const QList<Socket> &sockets, const Detail &d)
{
    // As wide as a flashing port's state at least, so that the counts stay where they are.
    Socket flashing;
    flashing.state = Socket::State::Flashing;
    int nameWidth = 0, stateWidth = columnsOf(stateText(flashing, d));
    for (const Socket &s : sockets) {
        nameWidth = qMax(nameWidth, columnsOf(shownName(s.port)));
        stateWidth = qMax(stateWidth, columnsOf(stateText(s, d)));
    }
    QStringList lines;
    for (const Socket &s : sockets) {
        QString line = padded(shownName(s.port), nameWidth) + QStringLiteral("  ");
        line += d.counts
                    ? padded(stateText(s, d), stateWidth) + QStringLiteral("  ") + countsText(s)
                    : stateText(s, d);
        lines << line;
    }
    return lines;
}

QString runningTime(qint64 ms)
{
    const qint64 s = qMax<qint64>(0, ms) / 1000;
    return QStringLiteral("%1:%2:%3")
        .arg(s / 3600)
        .arg(s / 60 % 60, 2, 10, QLatin1Char('0'))
        .arg(s % 60, 2, 10, QLatin1Char('0'));
}

// The totals line, in the longest form that fits; else its shortest, cut.
QString totalsLine(const StationTotals &t, int width)
{
    const QString counts = QStringLiteral("%1 passed, %2 failed, %3 interrupted")
                               .arg(t.passed)
                               .arg(t.failed)
                               .arg(t.interrupted);
    const QString perHour = QString::number(t.boardsPerHour(), 'f', 0);
    const QString time = runningTime(t.elapsedMs);
    const QStringList forms{
        QStringLiteral("total: %1; %2 boards per hour; running %3").arg(counts, perHour, time),
        QStringLiteral("total: %1, %2/h, %3").arg(counts, perHour, time),
        QStringLiteral("%1, %2/h, %3").arg(counts, perHour, time),
        counts,
    };
    for (const QString &form : forms)
        if (columnsOf(form) <= width)
            return form;
    return cut(forms.last(), width);
}

bool fits(const QStringList &lines, int width)
{
    for (const QString &line : lines)
        if (columnsOf(line) > width)
            return false;
    return true;
}

} // namespace

int columnsOf(const QString &text)
{
    int columns = 0;
    for (const char32_t u : QStringView(text).toUcs4())
        columns += charColumns(u);
    return columns;
}

QString shortReason(Ending ending)
{
    switch (ending) {
    case Ending::NoAnswer:
        return QStringLiteral("no answer");
    case Ending::ConnectionFailed:
        return QStringLiteral("connection failed");
    case Ending::DownloadFailed:
        return QStringLiteral("download failed");
    case Ending::NoCompletion:
        return QStringLiteral("no completion reply");
    case Ending::PortVanished:
        return QStringLiteral("port vanished");
    case Ending::PortUnavailable:
        return QStringLiteral("port unavailable");
    case Ending::ImageRefused:
        return QStringLiteral("image refused");
    case Ending::Interrupted:
    case Ending::Terminated:
    case Ending::HungUp:
        return QStringLiteral("stopped");
    default:
        return QStringLiteral("unexpected failure");
    }
}

QStringList stationLines(const QList<Socket> &sockets, const StationTotals &totals, int width)
{
    width = qMax(0, width);
    QStringList lines;
    for (const Detail &d : levels) {
        lines = portLines(sockets, d);
        if (fits(lines, width))
            break;
    }
    for (QString &line : lines)
        line = cut(line, width);
    lines << totalsLine(totals, width);
    return lines;
}
