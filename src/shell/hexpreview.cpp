#include "hexpreview.h"

#include "fonts.h"
#include "hexdump.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>
#include <QTimer>

#include <cstring>

namespace
{

// Characters that take two columns in a fixed-pitch CJK font (East Asian wide and full-width).
bool isWide(char16_t c)
{
    return (c >= 0x1100 && c <= 0x115F) || (c >= 0x2E80 && c <= 0xA4CF && c != 0x303F) ||
           (c >= 0xAC00 && c <= 0xD7A3) || (c >= 0xF900 && c <= 0xFAFF) ||
           (c >= 0xFE30 && c <= 0xFE4F) || (c >= 0xFF00 && c <= 0xFF60) ||
           (c >= 0xFFE0 && c <= 0xFFE6);
}

int columnsOf(char16_t c)
{
    return isWide(c) ? 2 : 1;
}

int columnsOf(const QString &s, int upTo)
{
    int col = 0;
    for (int i = 0; i < upTo && i < s.size(); ++i)
        col += columnsOf(s.at(i).unicode());
    return col;
}

const QString lineBreak = QStringLiteral("\r\n");

qint64 bound64(qint64 low, qint64 value, qint64 high)
{
    return qMax(low, qMin(value, high));
}

} // namespace

HexPreview::HexPreview(QWidget *parent) : QAbstractScrollArea(parent)
{
    setFocusPolicy(Qt::StrongFocus);
    setFont(previewFont());
    viewport()->setCursor(Qt::IBeamCursor);
    viewport()->setBackgroundRole(QPalette::Base);
    viewport()->setAutoFillBackground(true);
    m_autoScroll = new QTimer(this);
    m_autoScroll->setInterval(40);
    connect(m_autoScroll, &QTimer::timeout, this, &HexPreview::autoScroll);
    updateMetrics();
    resetView();
}

HexPreview::~HexPreview() = default;

// ---------------------------------------------------------------- content

void HexPreview::setText(const QString &text)
{
    m_dump = false;
    m_image = QByteArray();
    m_text = text;
    m_lines = text.split(lineBreak);
    m_maxColumns = 0;
    for (const QString &l : std::as_const(m_lines))
        m_maxColumns = qMax(m_maxColumns, columnsOf(l, int(l.size())));
    resetView();
}

void HexPreview::setDump(const QByteArray &image)
{
    m_dump = true;
    m_image = image; // shared with the caller's array, not copied
    m_text.clear();
    m_lines = {HexDump::headerLine(), HexDump::starLine()};
    m_maxColumns = HexDump::rowChars;
    resetView();
}

QString HexPreview::text() const
{
    return m_dump ? HexDump::text(m_image) : m_text;
}

qint64 HexPreview::textLength() const
{
    return m_dump ? HexDump::textLength(m_image.size()) : m_text.size();
}

qint64 HexPreview::lineCount() const
{
    return m_dump ? 2 + HexDump::rowCount(m_image.size()) : m_lines.size();
}

QString HexPreview::line(qint64 index) const
{
    if (index < 0 || index >= lineCount())
        return QString();
    if (m_dump && index >= 2)
        return HexDump::row(m_image, index - 2);
    return m_lines.at(index);
}

int HexPreview::lineLength(qint64 index) const
{
    if (index < 0 || index >= lineCount())
        return 0;
    if (m_dump && index >= 2)
        return HexDump::rowChars;
    return int(m_lines.at(index).size());
}

void HexPreview::resetView()
{
    m_anchor = m_cursor = Position{};
    m_goalColumn = -1;
    m_dragging = false;
    m_autoScroll->stop();
    updateScrollBars();
    verticalScrollBar()->setValue(0);
    horizontalScrollBar()->setValue(0);
    viewport()->update();
}

// ---------------------------------------------------------------- selection

void HexPreview::setSelection(Position anchor, Position cursor)
{
    m_anchor = clamp(anchor);
    m_cursor = clamp(cursor);
    m_goalColumn = -1;
    viewport()->update();
}

void HexPreview::selectAll()
{
    setSelection(Position{}, endOfText());
}

HexPreview::Position HexPreview::endOfText() const
{
    const qint64 last = lineCount() - 1;
    return {last, lineLength(last)};
}

HexPreview::Position HexPreview::clamp(Position p) const
{
    p.line = bound64(0, p.line, lineCount() - 1);
    p.column = qBound(0, p.column, lineLength(p.line));
    return p;
}

qint64 HexPreview::selectedLength() const
{
    const Position a = qMin(m_anchor, m_cursor);
    const Position b = qMax(m_anchor, m_cursor);
    if (a.line == b.line)
        return b.column - a.column;
    qint64 n = lineLength(a.line) - a.column + b.column + 2 * (b.line - a.line);
    if (m_dump) {
        // Every line after the first is 80 characters long.
        n += (b.line - a.line - 1) * HexDump::rowChars;
    } else {
        for (qint64 l = a.line + 1; l < b.line; ++l)
            n += lineLength(l);
    }
    return n;
}

QString HexPreview::selectedText() const
{
    const Position a = qMin(m_anchor, m_cursor);
    const Position b = qMax(m_anchor, m_cursor);
    if (a == b)
        return QString();
    if (a.line == b.line)
        return line(a.line).mid(a.column, b.column - a.column);

    QString out(selectedLength(), Qt::Uninitialized);
    auto *p = reinterpret_cast<char16_t *>(out.data());
    auto put = [&p](const QString &s) {
        std::memcpy(p, s.constData(), s.size() * sizeof(char16_t));
        p += s.size();
    };
    put(line(a.line).mid(a.column));
    qint64 l = a.line + 1;
    if (m_dump) {
        for (; l < b.line && l < 2; ++l) {
            put(lineBreak);
            put(line(l));
        }
        // The whole rows in between, each preceded by CR LF, straight from the bytes.
        if (l < b.line) {
            p = HexDump::writeRows(reinterpret_cast<const uchar *>(m_image.constData()),
                                   m_image.size(), l - 2, b.line - l, p);
            l = b.line;
        }
    }
    for (; l < b.line; ++l) {
        put(lineBreak);
        put(line(l));
    }
    put(lineBreak);
    put(line(b.line).left(b.column));
    Q_ASSERT(p == reinterpret_cast<char16_t *>(out.data()) + out.size());
    return out;
}

bool HexPreview::copy()
{
    if (!hasSelection())
        return false;
    const qint64 n = selectedLength();
    if (n > m_copyLimit) {
        emit copyRefused(n);
        return false;
    }
    QGuiApplication::clipboard()->setText(selectedText(), QClipboard::Clipboard);
    return true;
}

// ---------------------------------------------------------------- geometry

void HexPreview::updateMetrics()
{
    QFont f = font();
    f.setKerning(false);
    const QFontMetricsF fm(f);
    m_cellWidth = qMax(1, qRound(fm.horizontalAdvance(QLatin1Char('0'))));
    m_lineHeight = qMax(1, qCeil(fm.lineSpacing()));
    m_ascent = qCeil(fm.ascent());
    m_asciiOnGrid = true;
    for (char16_t c = 0x21; c < 0x7F && m_asciiOnGrid; ++c)
        m_asciiOnGrid = fm.horizontalAdvance(QChar(c)) == m_cellWidth;
    if (m_asciiOnGrid)
        m_asciiOnGrid = fm.horizontalAdvance(QString(HexDump::rowChars, QLatin1Char('0'))) ==
                        HexDump::rowChars * m_cellWidth;
    updateScrollBars();
    viewport()->update();
}

int HexPreview::visibleLines() const
{
    return qMax(1, (viewport()->height() - 2 * margin) / m_lineHeight);
}

qint64 HexPreview::firstVisibleLine() const
{
    return verticalScrollBar()->value();
}

void HexPreview::scrollToLine(qint64 line)
{
    verticalScrollBar()->setValue(int(bound64(0, line, verticalScrollBar()->maximum())));
}

void HexPreview::updateScrollBars()
{
    const int pageLines = visibleLines();
    QScrollBar *v = verticalScrollBar();
    v->setRange(0, int(qMax<qint64>(0, lineCount() - pageLines)));
    v->setPageStep(pageLines);
    v->setSingleStep(1);

    // One cell more than the widest line leaves room for the caret after the last character.
    const int contentWidth = 2 * margin + (m_maxColumns + 1) * m_cellWidth;
    QScrollBar *h = horizontalScrollBar();
    h->setRange(0, qMax(0, contentWidth - viewport()->width()));
    h->setPageStep(viewport()->width());
    h->setSingleStep(m_cellWidth);
}

int HexPreview::columnOf(Position p) const
{
    if (m_dump && p.line >= 2)
        return p.column; // rows are plain ASCII
    return columnsOf(line(p.line), p.column);
}

QRect HexPreview::characterRect(Position p) const
{
    const QString l = line(p.line);
    const int width = p.column < l.size() ? columnsOf(l.at(p.column).unicode()) : 1;
    const int x = margin - horizontalScrollBar()->value() + columnOf(p) * m_cellWidth;
    const int y = margin + int(p.line - firstVisibleLine()) * m_lineHeight;
    return QRect(x, y, width * m_cellWidth, m_lineHeight);
}

HexPreview::Position HexPreview::atColumn(qint64 lineIndex, int column) const
{
    return atX(lineIndex, column * m_cellWidth);
}

HexPreview::Position HexPreview::atX(qint64 lineIndex, int x) const
{
    // The character boundary nearest to x (pixels from the first column): a point in the left
    // half of a character is before it, in the right half after it.
    const QString l = line(lineIndex);
    int col = 0;
    for (int i = 0; i < l.size(); ++i) {
        const int w = columnsOf(l.at(i).unicode());
        if (2 * x < (2 * col + w) * m_cellWidth)
            return {lineIndex, i};
        col += w;
    }
    return {lineIndex, int(l.size())};
}

HexPreview::Position HexPreview::positionAt(const QPoint &point) const
{
    const int dy = point.y() - margin;
    const qint64 rel = dy < 0 ? -1 : dy / m_lineHeight;
    const qint64 lineIndex = bound64(0, firstVisibleLine() + rel, lineCount() - 1);
    return atX(lineIndex, point.x() - margin + horizontalScrollBar()->value());
}

// ---------------------------------------------------------------- painting

void HexPreview::paintEvent(QPaintEvent *)
{
    ++m_paints;
    QPainter painter(viewport());
    QFont f = font();
    f.setKerning(false);
    painter.setFont(f);
    const QPalette pal = palette();
    const qint64 first = firstVisibleLine();
    const qint64 last = qMin(lineCount(), first + visibleLines() + 1);
    for (qint64 i = first; i < last; ++i)
        paintLine(painter, i, margin + int(i - first) * m_lineHeight, pal);
}

void HexPreview::paintLine(QPainter &painter, qint64 index, int y, const QPalette &pal)
{
    const QString text = line(index);
    const int x0 = margin - horizontalScrollBar()->value();

    // The selected characters of this line, and whether its line break is selected too.
    const Position a = qMin(m_anchor, m_cursor);
    const Position b = qMax(m_anchor, m_cursor);
    int selFrom = 0, selTo = 0;
    bool breakSelected = false;
    if (a != b && index >= a.line && index <= b.line) {
        selFrom = index == a.line ? a.column : 0;
        selTo = index == b.line ? b.column : int(text.size());
        breakSelected = index < b.line;
    }
    if (selTo > selFrom || breakSelected) {
        const int c0 = columnsOf(text, selFrom);
        const int c1 = columnsOf(text, selTo) + (breakSelected ? 1 : 0);
        painter.fillRect(QRect(x0 + c0 * m_cellWidth, y, (c1 - c0) * m_cellWidth, m_lineHeight),
                         pal.brush(QPalette::Highlight));
    }

    // Runs of narrow characters in one colour are drawn at once when the font keeps them on
    // the grid; anything else is placed cell by cell.
    const QColor normal = pal.color(QPalette::Text);
    const QColor selected = pal.color(QPalette::HighlightedText);
    const int baseline = y + m_ascent;
    int col = 0;
    int runStart = -1, runCol = 0;
    bool runSelected = false;
    auto flush = [&](int end) {
        if (runStart < 0)
            return;
        painter.setPen(runSelected ? selected : normal);
        painter.drawText(QPoint(x0 + runCol * m_cellWidth, baseline),
                         text.mid(runStart, end - runStart));
        runStart = -1;
    };
    for (int i = 0; i < text.size(); ++i) {
        const char16_t c = text.at(i).unicode();
        const int w = columnsOf(c);
        const bool sel = i >= selFrom && i < selTo;
        const bool narrowOnGrid = m_asciiOnGrid && c > 0x20 && c < 0x7F;
        if (c == u' ' || !narrowOnGrid || sel != runSelected)
            flush(i);
        if (c != u' ') {
            if (narrowOnGrid) {
                if (runStart < 0) {
                    runStart = i;
                    runCol = col;
                    runSelected = sel;
                }
            } else {
                painter.setPen(sel ? selected : normal);
                painter.drawText(QPoint(x0 + col * m_cellWidth, baseline), QString(QChar(c)));
            }
        }
        col += w;
    }
    flush(int(text.size()));

    if (hasFocus() && index == m_cursor.line) {
        const int cx = x0 + columnOf(m_cursor) * m_cellWidth;
        painter.fillRect(QRect(cx, y, 1, m_lineHeight), normal);
    }
}

void HexPreview::resizeEvent(QResizeEvent *event)
{
    QAbstractScrollArea::resizeEvent(event);
    updateScrollBars();
}

void HexPreview::changeEvent(QEvent *event)
{
    QAbstractScrollArea::changeEvent(event);
    if (event->type() == QEvent::FontChange)
        updateMetrics();
}

// ---------------------------------------------------------------- keyboard and mouse

void HexPreview::moveCursor(Position to, bool keepAnchor)
{
    m_cursor = clamp(to);
    if (!keepAnchor)
        m_anchor = m_cursor;
    ensureCursorVisible();
    viewport()->update();
}

void HexPreview::ensureCursorVisible()
{
    QScrollBar *v = verticalScrollBar();
    const qint64 first = v->value();
    if (m_cursor.line < first)
        v->setValue(int(m_cursor.line));
    else if (m_cursor.line >= first + visibleLines())
        v->setValue(int(m_cursor.line - visibleLines() + 1));
    QScrollBar *h = horizontalScrollBar();
    const int x = columnOf(m_cursor) * m_cellWidth;
    const int room = viewport()->width() - 2 * margin - m_cellWidth;
    if (x < h->value())
        h->setValue(x);
    else if (x > h->value() + room)
        h->setValue(x - qMax(0, room));
}

void HexPreview::keyPressEvent(QKeyEvent *event)
{
    if (event == QKeySequence::SelectAll) {
        selectAll();
        return;
    }
    if (event == QKeySequence::Copy) {
        copy();
        return;
    }
    const bool shift = event->modifiers() & Qt::ShiftModifier;
    const bool ctrl = event->modifiers() & Qt::ControlModifier;
    const int goal = m_goalColumn >= 0 ? m_goalColumn : columnOf(m_cursor);
    Position to = m_cursor;
    bool vertical = false;
    switch (event->key()) {
    case Qt::Key_Left:
        if (to.column > 0)
            --to.column;
        else if (to.line > 0)
            to = {to.line - 1, lineLength(to.line - 1)};
        break;
    case Qt::Key_Right:
        if (to.column < lineLength(to.line))
            ++to.column;
        else if (to.line + 1 < lineCount())
            to = {to.line + 1, 0};
        break;
    case Qt::Key_Up:
        to = atColumn(qMax<qint64>(0, to.line - 1), goal);
        vertical = true;
        break;
    case Qt::Key_Down:
        to = atColumn(qMin(lineCount() - 1, to.line + 1), goal);
        vertical = true;
        break;
    case Qt::Key_PageUp:
        verticalScrollBar()->setValue(verticalScrollBar()->value() - visibleLines());
        to = atColumn(qMax<qint64>(0, to.line - visibleLines()), goal);
        vertical = true;
        break;
    case Qt::Key_PageDown:
        verticalScrollBar()->setValue(verticalScrollBar()->value() + visibleLines());
        to = atColumn(qMin(lineCount() - 1, to.line + visibleLines()), goal);
        vertical = true;
        break;
    case Qt::Key_Home:
        to = ctrl ? Position{} : Position{to.line, 0};
        break;
    case Qt::Key_End:
        to = ctrl ? endOfText() : Position{to.line, lineLength(to.line)};
        break;
    default:
        QAbstractScrollArea::keyPressEvent(event);
        return;
    }
    moveCursor(to, shift);
    m_goalColumn = vertical ? goal : -1;
}

void HexPreview::mousePressEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton) {
        QAbstractScrollArea::mousePressEvent(event);
        return;
    }
    const Position p = positionAt(event->position().toPoint());
    m_cursor = p;
    if (!(event->modifiers() & Qt::ShiftModifier))
        m_anchor = p;
    m_goalColumn = -1;
    m_dragging = true;
    m_dragPoint = event->position().toPoint();
    viewport()->update();
}

void HexPreview::mouseMoveEvent(QMouseEvent *event)
{
    if (!m_dragging || !(event->buttons() & Qt::LeftButton))
        return;
    m_dragPoint = event->position().toPoint();
    m_cursor = positionAt(m_dragPoint);
    const bool outside = m_dragPoint.y() < 0 || m_dragPoint.y() >= viewport()->height();
    if (outside && !m_autoScroll->isActive())
        m_autoScroll->start();
    else if (!outside)
        m_autoScroll->stop();
    viewport()->update();
}

void HexPreview::autoScroll()
{
    if (!m_dragging) {
        m_autoScroll->stop();
        return;
    }
    // Faster the further the pointer is beyond the edge.
    QScrollBar *v = verticalScrollBar();
    const int y = m_dragPoint.y();
    const int beyond = y < 0 ? y : y - viewport()->height() + 1;
    v->setValue(v->value() + (beyond / m_lineHeight) + (beyond < 0 ? -1 : 1));
    m_cursor = positionAt(m_dragPoint);
    viewport()->update();
}

void HexPreview::mouseReleaseEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton || !m_dragging)
        return;
    m_dragging = false;
    m_autoScroll->stop();
    // The X11 primary selection, for pasting with the middle button.
    QClipboard *clipboard = QGuiApplication::clipboard();
    if (clipboard->supportsSelection() && hasSelection() && selectedLength() <= m_copyLimit)
        clipboard->setText(selectedText(), QClipboard::Selection);
}

void HexPreview::mouseDoubleClickEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton)
        return;
    // Selects the run of non-blank characters under the pointer, such as one address.
    const Position p = positionAt(event->position().toPoint());
    const QString l = line(p.line);
    int from = qMin(p.column, int(l.size()));
    int to = from;
    while (from > 0 && l.at(from - 1) != u' ')
        --from;
    while (to < l.size() && l.at(to) != u' ')
        ++to;
    setSelection({p.line, from}, {p.line, to});
}

void HexPreview::focusInEvent(QFocusEvent *event)
{
    QAbstractScrollArea::focusInEvent(event);
    viewport()->update();
}

void HexPreview::focusOutEvent(QFocusEvent *event)
{
    QAbstractScrollArea::focusOutEvent(event);
    viewport()->update();
}
