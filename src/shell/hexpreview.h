#pragma once

#include <QAbstractScrollArea>
#include <QByteArray>
#include <QStringList>

#include <optional>

class QTimer;

// The preview box. It holds an exact text, lines separated by CR LF, and shows it
// read-only in a fixed grid of character cells: every character is drawn at column
// x = column * cell width, a CJK character taking two columns, so the dump's header stands over
// its rows whatever the font's own spacing. The text can be selected with the mouse or the
// keyboard (Shift with the arrows, Page Up/Down, Home/End; Ctrl+A selects all) and copied
// (Ctrl+C) exactly as it is, CR LF included.
//
// A hex dump is not stored as text: the box keeps the image's bytes (shared, not copied) and
// makes each row only when it is painted, copied or read by assistive technology, so a 64 MiB
// image costs no more to show than a small one. text() builds the whole string on demand.
//
// Screen readers see the box as a read-only multi-line text (QAccessibleTextInterface): its
// text by character offsets, the caret, the selection and the characters on screen. Offsets
// count every character of the exact text, CR LF included; they are computed, not searched.
class HexPreview : public QAbstractScrollArea
{
    Q_OBJECT
public:
    explicit HexPreview(QWidget *parent = nullptr);
    ~HexPreview() override;

    // A place in the text: a line (from 0) and a character index in it (0 is before its first
    // character, the line's length after its last).
    struct Position {
        qint64 line = 0;
        int column = 0;
        auto operator<=>(const Position &) const = default;
    };

    // Shows `text`; lines are separated by CR LF.
    void setText(const QString &text);
    // Shows the hex dump of `image`: the header, the star line and one row per 16 bytes.
    void setDump(const QByteArray &image);
    // The exact content, as set (for a dump, built in full: about 164 bytes per 16 image bytes).
    QString text() const;
    qint64 textLength() const;
    // Characters [start, end) of the text (clamped to it); only the lines they span are made.
    QString textBetween(qint64 start, qint64 end) const;
    // The character offset of a position, and the position of an offset (an offset inside a
    // line break is the end of its line).
    qint64 offsetOf(Position p) const;
    Position positionOf(qint64 offset) const;
    bool showsDump() const { return m_dump; }

    qint64 lineCount() const;
    QString line(qint64 index) const;
    int lineLength(qint64 index) const;

    // ---- selection ----
    Position cursorPosition() const { return m_cursor; }
    void setSelection(Position anchor, Position cursor);
    bool hasSelection() const { return m_anchor != m_cursor; }
    qint64 selectedLength() const;
    QString selectedText() const;
    void selectAll();
    // Puts the selection on the clipboard. A selection longer than copyLimit characters is
    // not copied (copyRefused is emitted instead): its text would take hundreds of megabytes.
    // Returns true when something was copied.
    bool copy();
    static constexpr qint64 copyLimit = qint64(32) << 20; // characters, 64 MB of text

    // ---- geometry, in viewport pixels ----
    // The grid column where character `p.column` of line `p.line` starts.
    int columnOf(Position p) const;
    // The text position nearest to a viewport point (clamped to the text).
    Position positionAt(const QPoint &point) const;
    qint64 firstVisibleLine() const;
    int visibleLines() const;
    void scrollToLine(qint64 line);
    // How often the text has been painted (for measuring when a new dump is on screen).
    quint64 paintCount() const { return m_paints; }

signals:
    void copyRefused(qint64 characters);

protected:
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void changeEvent(QEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;
    void focusInEvent(QFocusEvent *event) override;
    void focusOutEvent(QFocusEvent *event) override;

private:
    friend class HexPreviewAccessible;
    void resetView();
    std::optional<QString> textForNotice() const;
    void noticeTextChanged(const std::optional<QString> &before);
    qint64 lineStart(qint64 line) const;
    qint64 lineAt(qint64 offset) const;
    void notifyCursor();
    void updateMetrics();
    void updateScrollBars();
    void moveCursor(Position to, bool keepAnchor);
    void ensureVisible(Position p);
    void autoScroll();
    Position clamp(Position p) const;
    Position atColumn(qint64 line, int column) const;
    Position atX(qint64 line, int x) const;
    Position endOfText() const;
    // The selected characters [from, to) of a line, and whether its line break is selected.
    struct LineSelection {
        int from = 0;
        int to = 0;
        bool lineBreak = false;
    };
    LineSelection selectionIn(qint64 line, int length) const;
    void paintLine(class QPainter &painter, qint64 index, int y, const QPalette &pal);
    void paintCharacters(QPainter &painter, const QString &text, const LineSelection &selection,
                         QPoint origin, const QPalette &pal);

    // Text mode: the lines of m_text and their offsets. Dump mode: the image; lines 0 and 1 are
    // the header.
    bool m_dump = false;
    QString m_text;
    QStringList m_lines;
    QList<qint64> m_lineStarts;
    QByteArray m_image;
    int m_maxColumns = 0;

    Position m_anchor;
    Position m_cursor;
    int m_goalColumn = -1; // grid column kept by vertical moves
    bool m_dragging = false;
    QPoint m_dragPoint;
    QTimer *m_autoScroll = nullptr;
    Position m_toldAnchor; // the selection assistive technology was last told of
    Position m_toldCursor;

    int m_cellWidth = 7;
    int m_lineHeight = 16;
    int m_ascent = 12;
    bool m_asciiOnGrid = false; // printable ASCII advances exactly one cell: draw runs at once
    static constexpr int margin = 4;
    quint64 m_paints = 0;
};
