#include "hexpreview.h"

#include "fonts.h"
#include "hexdump.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QClipboard>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>
#include <QTimer>

#include <QTextBoundaryFinder>

#include <algorithm>
#include <cstring>
#include <utility>

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

// A dump's text: the header and star lines (with the CR LF between them), then for each row
// CR LF and its 80 characters.
constexpr qint64 headChars = HexDump::headerLineChars + 2 + HexDump::starLineChars;
constexpr qint64 rowSpan = 2 + HexDump::rowChars;

// A text up to this length travels whole in the change notice a screen reader gets. A longer
// one (a dump of more than about 12 KiB) would flood the accessibility bus: only the caret
// notice tells of it, and the reader asks for the lines it reads.
constexpr qint64 noticeLimit = qint64(1) << 16;

QAccessibleInterface *accessibleFactory(const QString &className, QObject *object);

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
    static const bool accessible = (QAccessible::installFactory(accessibleFactory), true);
    Q_UNUSED(accessible);
    updateMetrics();
    resetView();
}

HexPreview::~HexPreview() = default;

// ---------------------------------------------------------------- content

void HexPreview::setText(const QString &text)
{
    const std::optional<QString> before = textForNotice();
    m_dump = false;
    m_image = QByteArray();
    m_text = text;
    m_lines = text.split(lineBreak);
    m_lineStarts.clear();
    m_maxColumns = 0;
    qint64 start = 0;
    for (const QString &l : std::as_const(m_lines)) {
        m_lineStarts.append(start);
        start += l.size() + lineBreak.size();
        m_maxColumns = qMax(m_maxColumns, columnsOf(l, int(l.size())));
    }
    resetView();
    noticeTextChanged(before);
}

void HexPreview::setDump(const QByteArray &image)
{
    const std::optional<QString> before = textForNotice();
    m_dump = true;
    m_image = image; // shared with the caller's array, not copied
    m_text.clear();
    m_lines = {HexDump::headerLine(), HexDump::starLine()};
    m_lineStarts.clear();
    m_maxColumns = HexDump::rowChars;
    resetView();
    noticeTextChanged(before);
}

QString HexPreview::text() const
{
    return textBetween(0, textLength());
}

QString HexPreview::textBetween(qint64 start, qint64 end) const
{
    const qint64 length = textLength();
    start = bound64(0, start, length);
    end = bound64(start, end, length);
    if (!m_dump)
        return m_text.mid(start, end - start);

    QString out(end - start, Qt::Uninitialized);
    auto *p = reinterpret_cast<char16_t *>(out.data());
    const auto *data = reinterpret_cast<const uchar *>(m_image.constData());
    qint64 at = start;
    if (at < headChars) {
        const QString head = HexDump::header();
        const qint64 n = qMin(end, headChars) - at;
        std::memcpy(p, head.constData() + at, n * sizeof(char16_t));
        p += n;
        at += n;
    }
    while (at < end) {
        // Row r (CR LF and its characters) starts at headChars + r * rowSpan. Whole rows are
        // written in place; a row cut by start or end goes through a small buffer.
        const qint64 r = (at - headChars) / rowSpan;
        const qint64 from = at - (headChars + r * rowSpan);
        if (from == 0 && end - at >= rowSpan) {
            const qint64 rows = (end - at) / rowSpan;
            p = HexDump::writeRows(data, m_image.size(), r, rows, p);
            at += rows * rowSpan;
        } else {
            char16_t one[rowSpan];
            HexDump::writeRows(data, m_image.size(), r, 1, one);
            const qint64 n = qMin(end - at, rowSpan - from);
            std::memcpy(p, one + from, n * sizeof(char16_t));
            p += n;
            at += n;
        }
    }
    Q_ASSERT(p == reinterpret_cast<char16_t *>(out.data()) + out.size());
    return out;
}

qint64 HexPreview::lineStart(qint64 line) const
{
    if (!m_dump)
        return m_lineStarts.at(line);
    if (line < 2)
        return line == 0 ? 0 : HexDump::headerLineChars + 2;
    return headChars + 2 + (line - 2) * rowSpan;
}

qint64 HexPreview::lineAt(qint64 offset) const
{
    // The line whose characters or following line break hold `offset`.
    if (!m_dump) {
        const auto after = std::upper_bound(m_lineStarts.cbegin(), m_lineStarts.cend(), offset);
        return qMax<qint64>(0, after - m_lineStarts.cbegin() - 1);
    }
    if (offset < headChars + 2)
        return offset < HexDump::headerLineChars + 2 ? 0 : 1;
    return qMin(lineCount() - 1, 2 + (offset - headChars - 2) / rowSpan);
}

qint64 HexPreview::offsetOf(Position p) const
{
    p = clamp(p);
    return lineStart(p.line) + p.column;
}

HexPreview::Position HexPreview::positionOf(qint64 offset) const
{
    offset = bound64(0, offset, textLength());
    const qint64 l = lineAt(offset);
    return {l, int(qMin<qint64>(offset - lineStart(l), lineLength(l)))};
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

std::optional<QString> HexPreview::textForNotice() const
{
    if (!QAccessible::isActive() || textLength() > noticeLimit)
        return std::nullopt;
    return text();
}

void HexPreview::noticeTextChanged(const std::optional<QString> &before)
{
    if (!QAccessible::isActive())
        return;
    const std::optional<QString> after = textForNotice();
    if (before && after) {
        QAccessibleTextUpdateEvent event(this, 0, *before, *after);
        QAccessible::updateAccessibility(&event);
    }
    m_toldCursor = {-1, 0}; // the caret is at the start of a new text
    notifyCursor();
}

void HexPreview::notifyCursor()
{
    if (!QAccessible::isActive() || (m_anchor == m_toldAnchor && m_cursor == m_toldCursor))
        return;
    if (m_anchor != m_cursor || m_toldAnchor != m_toldCursor) {
        QAccessibleTextSelectionEvent event(this, int(offsetOf(qMin(m_anchor, m_cursor))),
                                            int(offsetOf(qMax(m_anchor, m_cursor))));
        event.setCursorPosition(int(offsetOf(m_cursor)));
        QAccessible::updateAccessibility(&event);
    }
    if (m_cursor != m_toldCursor) {
        QAccessibleTextCursorEvent event(this, int(offsetOf(m_cursor)));
        QAccessible::updateAccessibility(&event);
    }
    m_toldAnchor = m_anchor;
    m_toldCursor = m_cursor;
}

// ---------------------------------------------------------------- selection

void HexPreview::setSelection(Position anchor, Position cursor)
{
    m_anchor = clamp(anchor);
    m_cursor = clamp(cursor);
    m_goalColumn = -1;
    viewport()->update();
    notifyCursor();
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
    return offsetOf(qMax(m_anchor, m_cursor)) - offsetOf(qMin(m_anchor, m_cursor));
}

QString HexPreview::selectedText() const
{
    return textBetween(offsetOf(qMin(m_anchor, m_cursor)), offsetOf(qMax(m_anchor, m_cursor)));
}

bool HexPreview::copy()
{
    if (!hasSelection())
        return false;
    const qint64 n = selectedLength();
    if (n > copyLimit) {
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

HexPreview::LineSelection HexPreview::selectionIn(qint64 index, int length) const
{
    const Position a = qMin(m_anchor, m_cursor);
    const Position b = qMax(m_anchor, m_cursor);
    if (a == b || index < a.line || index > b.line)
        return {};
    return {index == a.line ? a.column : 0, index == b.line ? b.column : length, index < b.line};
}

void HexPreview::paintLine(QPainter &painter, qint64 index, int y, const QPalette &pal)
{
    const QString text = line(index);
    const int x0 = margin - horizontalScrollBar()->value();

    const LineSelection selection = selectionIn(index, int(text.size()));
    if (selection.to > selection.from || selection.lineBreak) {
        const int c0 = columnsOf(text, selection.from);
        const int c1 = columnsOf(text, selection.to) + (selection.lineBreak ? 1 : 0);
        painter.fillRect(QRect(x0 + c0 * m_cellWidth, y, (c1 - c0) * m_cellWidth, m_lineHeight),
                         pal.brush(QPalette::Highlight));
    }
    paintCharacters(painter, text, selection, QPoint(x0, y + m_ascent), pal);

    if (hasFocus() && index == m_cursor.line) {
        const int cx = x0 + columnOf(m_cursor) * m_cellWidth;
        painter.fillRect(QRect(cx, y, 1, m_lineHeight), pal.color(QPalette::Text));
    }
}

// Draws a line's characters from `origin`, the first column on the baseline. Runs of narrow
// characters in one colour are drawn at once when the font keeps them on the grid; anything
// else is placed cell by cell.
void HexPreview::paintCharacters(QPainter &painter, const QString &text,
                                 const LineSelection &selection, QPoint origin, const QPalette &pal)
{
    const QColor normal = pal.color(QPalette::Text);
    const QColor selected = pal.color(QPalette::HighlightedText);
    int col = 0;
    int runStart = -1, runCol = 0;
    bool runSelected = false;
    auto flush = [&](int end) {
        if (runStart < 0)
            return;
        painter.setPen(runSelected ? selected : normal);
        painter.drawText(origin + QPoint(runCol * m_cellWidth, 0),
                         text.mid(runStart, end - runStart));
        runStart = -1;
    };
    for (int i = 0; i < text.size(); ++i) {
        const char16_t c = text.at(i).unicode();
        const int w = columnsOf(c);
        const bool sel = i >= selection.from && i < selection.to;
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
                painter.drawText(origin + QPoint(col * m_cellWidth, 0), QString(QChar(c)));
            }
        }
        col += w;
    }
    flush(int(text.size()));
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
    ensureVisible(m_cursor);
    viewport()->update();
    notifyCursor();
}

void HexPreview::ensureVisible(Position p)
{
    QScrollBar *v = verticalScrollBar();
    const qint64 first = v->value();
    if (p.line < first)
        v->setValue(int(p.line));
    else if (p.line >= first + visibleLines())
        v->setValue(int(p.line - visibleLines() + 1));
    QScrollBar *h = horizontalScrollBar();
    const int x = columnOf(p) * m_cellWidth;
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
    notifyCursor();
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
    notifyCursor();
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
    notifyCursor();
}

void HexPreview::mouseReleaseEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton || !m_dragging)
        return;
    m_dragging = false;
    m_autoScroll->stop();
    // The X11 primary selection, for pasting with the middle button.
    QClipboard *clipboard = QGuiApplication::clipboard();
    if (clipboard->supportsSelection() && hasSelection() && selectedLength() <= copyLimit)
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

// ---------------------------------------------------------------- assistive technology

// The box as a screen reader sees it: a read-only multi-line text. Every answer is made from
// the lines it touches, so reading a 64 MiB dump line by line costs what the lines cost.
class HexPreviewAccessible : public QAccessibleWidget, public QAccessibleTextInterface
{
public:
    explicit HexPreviewAccessible(HexPreview *view)
        : QAccessibleWidget(view, QAccessible::EditableText)
    {
    }

    void *interface_cast(QAccessible::InterfaceType t) override
    {
        if (t == QAccessible::TextInterface)
            return static_cast<QAccessibleTextInterface *>(this);
        return QAccessibleWidget::interface_cast(t);
    }

    QAccessible::State state() const override
    {
        QAccessible::State s = QAccessibleWidget::state();
        s.readOnly = true;
        s.multiLine = true;
        s.selectableText = true;
        return s;
    }

    // ---- selection and caret
    void selection(int index, int *start, int *end) const override
    {
        *start = *end = 0;
        if (index == 0 && v()->hasSelection()) {
            *start = int(v()->offsetOf(qMin(v()->m_anchor, v()->m_cursor)));
            *end = int(v()->offsetOf(qMax(v()->m_anchor, v()->m_cursor)));
        }
    }
    int selectionCount() const override { return v()->hasSelection() ? 1 : 0; }
    void addSelection(int start, int end) override { setSelection(0, start, end); }
    void removeSelection(int index) override
    {
        if (index == 0)
            v()->setSelection(v()->m_cursor, v()->m_cursor);
    }
    void setSelection(int index, int start, int end) override
    {
        if (index == 0)
            v()->setSelection(v()->positionOf(start), v()->positionOf(end));
    }
    int cursorPosition() const override { return int(v()->offsetOf(v()->m_cursor)); }
    void setCursorPosition(int position) override
    {
        v()->moveCursor(v()->positionOf(position), false);
    }

    // ---- text
    QString text(int start, int end) const override { return v()->textBetween(start, end); }
    int characterCount() const override { return int(v()->textLength()); }
    QString textAtOffset(int offset, QAccessible::TextBoundaryType type, int *start,
                         int *end) const override
    {
        *start = *end = -1;
        if (offset < 0 || offset >= characterCount())
            return QString();
        const auto [s, e] = unitAt(offset, type);
        *start = int(s);
        *end = int(e);
        return v()->textBetween(s, e);
    }
    QString textBeforeOffset(int offset, QAccessible::TextBoundaryType type, int *start,
                             int *end) const override
    {
        *start = *end = -1;
        if (offset <= 0 || offset > characterCount())
            return QString();
        const qint64 at = offset == characterCount() ? offset : unitAt(offset, type).first;
        return at > 0 ? textAtOffset(int(at - 1), type, start, end) : QString();
    }
    QString textAfterOffset(int offset, QAccessible::TextBoundaryType type, int *start,
                            int *end) const override
    {
        *start = *end = -1;
        if (offset < 0 || offset >= characterCount())
            return QString();
        return textAtOffset(int(unitAt(offset, type).second), type, start, end);
    }

    // ---- geometry, in screen coordinates
    QRect characterRect(int offset) const override
    {
        const HexPreview::Position p = v()->positionOf(offset);
        const QString l = v()->line(p.line);
        const int columns = p.column < l.size() ? columnsOf(l.at(p.column).unicode()) : 1;
        const int x = HexPreview::margin - v()->horizontalScrollBar()->value() +
                      v()->columnOf(p) * v()->m_cellWidth;
        const int y =
            HexPreview::margin + int(p.line - v()->firstVisibleLine()) * v()->m_lineHeight;
        const QPoint topLeft = v()->viewport()->mapToGlobal(QPoint(x, y));
        return QRect(topLeft, QSize(columns * v()->m_cellWidth, v()->m_lineHeight));
    }
    int offsetAtPoint(const QPoint &point) const override
    {
        const QPoint local = v()->viewport()->mapFromGlobal(point);
        if (!v()->viewport()->rect().contains(local))
            return -1;
        return int(v()->offsetOf(v()->positionAt(local)));
    }
    void scrollToSubstring(int start, int) override { v()->ensureVisible(v()->positionOf(start)); }
    QString attributes(int offset, int *start, int *end) const override
    {
        *start = 0;
        *end = characterCount();
        Q_UNUSED(offset);
        return QString();
    }

private:
    HexPreview *v() const { return static_cast<HexPreview *>(widget()); }

    // The unit of `type` that holds `offset`, as [start, end). A line (and a sentence or a
    // paragraph, which here is a line) runs to the start of the next one, its CR LF included;
    // words are found within the line, its line break being a unit of its own.
    std::pair<qint64, qint64> unitAt(qint64 offset, QAccessible::TextBoundaryType type) const
    {
        const qint64 line = v()->lineAt(offset);
        const qint64 lineFrom = v()->lineStart(line);
        const qint64 lineTo =
            line + 1 < v()->lineCount() ? v()->lineStart(line + 1) : v()->textLength();
        switch (type) {
        case QAccessible::CharBoundary:
            return {offset, offset + 1};
        case QAccessible::NoBoundary:
            return {0, v()->textLength()};
        case QAccessible::WordBoundary: {
            const QString text = v()->line(line);
            const qint64 inLine = offset - lineFrom;
            if (inLine >= text.size())
                return {lineFrom + text.size(), lineTo};
            QTextBoundaryFinder words(QTextBoundaryFinder::Word, text);
            words.setPosition(int(inLine));
            const qint64 from = words.isAtBoundary() ? inLine : words.toPreviousBoundary();
            words.setPosition(int(inLine));
            const qint64 to = words.toNextBoundary();
            return {lineFrom + qMax<qint64>(0, from), lineFrom + (to < 0 ? text.size() : to)};
        }
        default:
            return {lineFrom, lineTo};
        }
    }
};

namespace
{

QAccessibleInterface *accessibleFactory(const QString &className, QObject *object)
{
    if (className == QLatin1String("HexPreview"))
        if (auto *view = qobject_cast<HexPreview *>(object))
            return new HexPreviewAccessible(view);
    return nullptr;
}

} // namespace
