#include "fonts.h"
#include "hexdump.h"
#include "hexpreview.h"

#include <QApplication>
#include <QClipboard>
#include <QFontDatabase>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

using Pos = HexPreview::Position;
Q_DECLARE_METATYPE(Pos)

namespace
{

QByteArray ramp(int length)
{
    QByteArray data(length, Qt::Uninitialized);
    for (int i = 0; i < length; ++i)
        data[i] = char((i * 37 + 11) & 0xFF);
    return data;
}

// The offset of a position in the whole text (lines joined by CR LF).
qint64 offsetOf(const HexPreview &view, Pos p)
{
    qint64 offset = 0;
    for (qint64 l = 0; l < p.line; ++l)
        offset += view.lineLength(l) + 2;
    return offset + p.column;
}

} // namespace

class TestHexPreview : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void holdsTheExactText_data();
    void holdsTheExactText();
    void selectionIsTheTextBetween_data();
    void selectionIsTheTextBetween();
    void copyPutsTheSelectionOnTheClipboard();
    void copyRefusesAHugeSelection();
    void mouseDragSelects();
    void keyboardSelects();
    void pointsMapBackToCharacters();
    void headerStandsOverTheCells();
    void previewFontHasDoubleWidthCjk();
    void largestImageScrollsToItsLastRow();

private:
    QTemporaryDir m_home;
};

void TestHexPreview::initTestCase()
{
    qputenv("XDG_CONFIG_HOME", m_home.path().toLocal8Bit());
    installFontSubstitutions();
}

void TestHexPreview::holdsTheExactText_data()
{
    QTest::addColumn<bool>("dump");
    QTest::addColumn<QByteArray>("bytes"); // the image, or the text in UTF-8
    QTest::addColumn<qint64>("lines");
    QTest::newRow("header alone") << false << HexDump::header().toUtf8() << qint64(2);
    QTest::newRow("text with a lone LF") << false << QByteArray("a\nb\r\nc\r\n") << qint64(3);
    QTest::newRow("empty text") << false << QByteArray() << qint64(1);
    QTest::newRow("dump of nothing") << true << QByteArray() << qint64(3);
    QTest::newRow("dump of 17 bytes") << true << ramp(17) << qint64(4);
    QTest::newRow("dump of 64 KiB") << true << ramp(65536) << qint64(4098);
}

void TestHexPreview::holdsTheExactText()
{
    QFETCH(bool, dump);
    QFETCH(QByteArray, bytes);
    QFETCH(qint64, lines);
    HexPreview view;
    const QString expected = dump ? HexDump::text(bytes) : QString::fromUtf8(bytes);
    if (dump)
        view.setDump(bytes);
    else
        view.setText(expected);
    QCOMPARE(view.text(), expected);
    QCOMPARE(view.textLength(), expected.size());
    QCOMPARE(view.lineCount(), lines);
    const QStringList split = expected.split(QStringLiteral("\r\n"));
    for (qint64 l : {qint64(0), lines / 2, lines - 1}) {
        QCOMPARE(view.line(l), split.at(l));
        QCOMPARE(view.lineLength(l), split.at(l).size());
    }
}

void TestHexPreview::selectionIsTheTextBetween_data()
{
    QTest::addColumn<Pos>("anchor");
    QTest::addColumn<Pos>("cursor");
    QTest::newRow("nothing") << Pos{3, 5} << Pos{3, 5};
    QTest::newRow("inside a row") << Pos{2, 1} << Pos{2, 9};
    QTest::newRow("backwards inside the header") << Pos{0, 9} << Pos{0, 2};
    QTest::newRow("header into the rows") << Pos{0, 3} << Pos{4, 20};
    QTest::newRow("one whole row and its break") << Pos{5, 0} << Pos{6, 0};
    QTest::newRow("many rows, backwards") << Pos{300, 79} << Pos{1, 80};
    QTest::newRow("to the very end") << Pos{10, 40} << Pos{1026, 80};
    QTest::newRow("past the end is clamped") << Pos{1026, 70} << Pos{5000, 500};
}

void TestHexPreview::selectionIsTheTextBetween()
{
    QFETCH(Pos, anchor);
    QFETCH(Pos, cursor);
    HexPreview view;
    view.setDump(ramp(16 * 1025 - 3));
    QCOMPARE(view.lineCount(), 1027);
    view.setSelection(anchor, cursor);
    const Pos a = qMin(view.anchorPosition(), view.cursorPosition());
    const Pos b = qMax(view.anchorPosition(), view.cursorPosition());
    const QString expected =
        view.text().mid(offsetOf(view, a), offsetOf(view, b) - offsetOf(view, a));
    QCOMPARE(view.selectedText(), expected);
    QCOMPARE(view.selectedLength(), expected.size());
    QCOMPARE(view.hasSelection(), !expected.isEmpty());
}

void TestHexPreview::copyPutsTheSelectionOnTheClipboard()
{
    HexPreview view;
    const QByteArray bytes = ramp(20);
    view.setDump(bytes);
    QApplication::clipboard()->setText(QStringLiteral("before"));
    QVERIFY(!view.copy()); // nothing selected: the clipboard keeps its text
    QCOMPARE(QApplication::clipboard()->text(), QStringLiteral("before"));
    view.selectAll();
    QVERIFY(view.copy());
    QCOMPARE(QApplication::clipboard()->text(), HexDump::text(bytes));

    view.setText(HexDump::header()); // a new text drops the selection
    QVERIFY(!view.hasSelection());
    view.selectAll();
    QTest::keyClick(&view, Qt::Key_C, Qt::ControlModifier);
    QCOMPARE(QApplication::clipboard()->text(), HexDump::header());
}

void TestHexPreview::copyRefusesAHugeSelection()
{
    HexPreview view;
    view.setDump(ramp(1600)); // 100 rows
    view.setCopyLimit(1000);
    QSignalSpy refused(&view, &HexPreview::copyRefused);
    QApplication::clipboard()->setText(QStringLiteral("before"));
    view.setSelection(Pos{2, 0}, Pos{13, 80}); // 12 rows: 11 * 82 + 80 = 982 characters
    QVERIFY(view.copy());
    QCOMPARE(QApplication::clipboard()->text().size(), 982);
    QVERIFY(refused.isEmpty());
    view.selectAll();
    QVERIFY(!view.copy());
    QCOMPARE(refused.size(), 1);
    QCOMPARE(refused.first().first().toLongLong(), HexDump::textLength(1600));
    QCOMPARE(QApplication::clipboard()->text().size(), 982);
}

void TestHexPreview::mouseDragSelects()
{
    HexPreview view;
    view.resize(400, 200); // narrower than a row: part of it is scrolled
    view.setDump(ramp(4000));
    view.show();
    QVERIFY(QTest::qWaitForWindowExposed(&view));
    QWidget *vp = view.viewport();
    const auto leftHalf = [&](Pos p) { return view.characterRect(p).topLeft() + QPoint(1, 2); };
    QTest::mousePress(vp, Qt::LeftButton, {}, leftHalf(Pos{2, 1}));
    QTest::mouseMove(vp, leftHalf(Pos{3, 9}));
    QTest::mouseRelease(vp, Qt::LeftButton, {}, leftHalf(Pos{3, 9}));
    QCOMPARE(view.selectedText(),
             view.line(2).mid(1) + QStringLiteral("\r\n") + view.line(3).left(9));

    // Shift+click moves the end and keeps the start.
    QTest::mouseClick(vp, Qt::LeftButton, Qt::ShiftModifier, leftHalf(Pos{2, 5}));
    QCOMPARE(view.selectedText(), view.line(2).mid(1, 4));

    // A double click takes the word under the pointer: the address.
    QTest::mouseDClick(vp, Qt::LeftButton, {}, leftHalf(Pos{4, 3}));
    QCOMPARE(view.selectedText(), QStringLiteral("00000020|"));

    // Dragging below the box scrolls it and goes on selecting.
    const qint64 firstBefore = view.firstVisibleLine();
    QTest::mousePress(vp, Qt::LeftButton, {}, leftHalf(Pos{2, 0}));
    QTest::mouseMove(vp, QPoint(20, vp->height() + 40));
    QTRY_VERIFY(view.firstVisibleLine() > firstBefore + 2);
    QTest::mouseRelease(vp, Qt::LeftButton, {}, QPoint(20, vp->height() + 40));
    QVERIFY(view.cursorPosition().line > view.firstVisibleLine());
    QVERIFY(view.selectedText().startsWith(view.line(2) + QStringLiteral("\r\n")));
}

void TestHexPreview::keyboardSelects()
{
    HexPreview view;
    view.resize(400, 200);
    const QByteArray bytes = ramp(1000);
    view.setDump(bytes);
    view.show();
    view.setFocus();
    view.setSelection(Pos{2, 0}, Pos{2, 0});
    QTest::keyClick(&view, Qt::Key_Down, Qt::ShiftModifier);
    QCOMPARE(view.selectedText(), view.line(2) + QStringLiteral("\r\n"));
    QTest::keyClick(&view, Qt::Key_End, Qt::ShiftModifier);
    QCOMPARE(view.selectedText(), view.line(2) + QStringLiteral("\r\n") + view.line(3));
    QTest::keyClick(&view, Qt::Key_Left); // collapses
    QVERIFY(!view.hasSelection());
    QTest::keyClick(&view, Qt::Key_End, Qt::ControlModifier | Qt::ShiftModifier);
    QCOMPARE(view.cursorPosition(), (Pos{view.lineCount() - 1, 80}));
    QCOMPARE(view.firstVisibleLine() + view.visibleLines(), view.lineCount());
    QTest::keyClick(&view, Qt::Key_A, Qt::ControlModifier);
    QCOMPARE(view.selectedText(), HexDump::text(bytes));

    // Up and down keep the screen column, also across the double-width header.
    view.setSelection(Pos{2, 11}, Pos{2, 11}); // before the first byte's digits
    QTest::keyClick(&view, Qt::Key_Up);
    QTest::keyClick(&view, Qt::Key_Up);
    QCOMPARE(view.cursorPosition(), (Pos{0, 9})); // before "00" in the header
    QTest::keyClick(&view, Qt::Key_PageDown);
    QCOMPARE(view.cursorPosition().column, 11);
}

void TestHexPreview::pointsMapBackToCharacters()
{
    HexPreview view;
    view.resize(700, 300);
    view.setDump(ramp(200));
    view.horizontalScrollBar()->setValue(3 * view.cellWidth());
    for (const Pos p : {Pos{0, 3}, Pos{0, 4}, Pos{0, 7}, Pos{0, 20}, Pos{1, 79}, Pos{2, 9},
                        Pos{5, 62}, Pos{14, 79}}) {
        const QRect r = view.characterRect(p);
        QCOMPARE(view.positionAt(r.topLeft() + QPoint(1, 1)), p);
        QCOMPARE(view.positionAt(QPoint(r.right() - 1, r.center().y())),
                 (Pos{p.line, p.column + 1}));
    }
    QCOMPARE(view.characterRect(Pos{0, 3}).width(), 2 * view.cellWidth()); // 地
    QCOMPARE(view.characterRect(Pos{0, 5}).width(), view.cellWidth());
}

void TestHexPreview::headerStandsOverTheCells()
{
    HexPreview view;
    view.setDump(ramp(64));
    // "|" and every column number's digits stand at the same x as in the rows.
    QCOMPARE(view.characterRect(Pos{0, 7}).x(), view.characterRect(Pos{2, 9}).x());
    for (int j = 0; j < 16; ++j) {
        for (int d = 0; d < 2; ++d) {
            const Pos head{0, 9 + 3 * j + d};
            const Pos cell{3, 11 + 3 * j + d};
            QCOMPARE(view.line(0).at(head.column), QString::asprintf("%02X", j).at(d));
            QCOMPARE(view.characterRect(head).x(), view.characterRect(cell).x());
        }
    }
    QCOMPARE(view.columnOf(Pos{0, 56}), 80 - 22); // the header ends over "|  |"
}

void TestHexPreview::previewFontHasDoubleWidthCjk()
{
    HexPreview view;
    QCOMPARE(view.font().families().value(0), QStringLiteral("AR PL UMing CN"));
    if (!QFontDatabase::hasFamily(QStringLiteral("AR PL UMing CN")))
        QSKIP("AR PL UMing CN is not installed");
    QCOMPARE(view.cellWidth(), 7);
    const QFontMetricsF fm(view.font());
    QCOMPARE(fm.horizontalAdvance(QStringLiteral("地址")), 4.0 * view.cellWidth());
}

void TestHexPreview::largestImageScrollsToItsLastRow()
{
    HexPreview view;
    view.resize(500, 220);
    const QByteArray bytes(67108863, '\x41');
    view.setDump(bytes);
    QCOMPARE(view.lineCount(), 2 + 4194304);
    view.show();
    QVERIFY(QTest::qWaitForWindowExposed(&view));
    view.scrollToLine(view.lineCount());
    QCOMPARE(view.firstVisibleLine(), view.lineCount() - view.visibleLines());
    const quint64 paints = view.paintCount();
    view.viewport()->repaint();
    QVERIFY(view.paintCount() > paints);
    QCOMPARE(view.line(view.lineCount() - 1),
             QStringLiteral(" 03FFFFF0| 41 41 41 41 41 41 41 41 41 41 41 41 41 41 41   |  "
                            "|AAAAAAAAAAAAAAA  |"));
    // Selecting everything costs nothing until it is copied; copying it is refused.
    QSignalSpy refused(&view, &HexPreview::copyRefused);
    view.selectAll();
    QCOMPARE(view.selectedLength(), HexDump::textLength(bytes.size()));
    QVERIFY(!view.copy());
    QCOMPARE(refused.size(), 1);
}

QTEST_MAIN(TestHexPreview)
#include "tst_hexpreview.moc"
