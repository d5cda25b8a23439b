#include "fonts.h"
#include "hexdump.h"
#include "hexpreview.h"

#include <QApplication>
#include <QClipboard>
#include <QFontDatabase>
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
    qint64 offset = p.column;
    for (qint64 l = 0; l < p.line; ++l)
        offset += view.lineLength(l) + 2;
    return offset;
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
    void copiesExactlyAndRefusesHugeSelections();
    void mouseAndKeyboardSelect();
    void headerStandsOverTheCells();
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
    dump ? view.setDump(bytes) : view.setText(expected);
    QCOMPARE(view.text(), expected);
    QCOMPARE(view.textLength(), expected.size());
    QCOMPARE(view.lineCount(), lines);
    QCOMPARE(view.line(lines - 1), expected.split(QStringLiteral("\r\n")).last());
}

void TestHexPreview::selectionIsTheTextBetween_data()
{
    QTest::addColumn<Pos>("anchor");
    QTest::addColumn<Pos>("cursor");
    QTest::newRow("nothing") << Pos{3, 5} << Pos{3, 5};
    QTest::newRow("inside a row") << Pos{2, 1} << Pos{2, 9};
    QTest::newRow("backwards inside the header") << Pos{0, 9} << Pos{0, 2};
    QTest::newRow("header into the rows") << Pos{0, 3} << Pos{4, 20};
    QTest::newRow("one row and its break") << Pos{5, 0} << Pos{6, 0};
    QTest::newRow("many rows, backwards") << Pos{300, 79} << Pos{1, 80};
    QTest::newRow("past the end is clamped") << Pos{1026, 70} << Pos{5000, 500};
}

void TestHexPreview::selectionIsTheTextBetween()
{
    QFETCH(Pos, anchor);
    QFETCH(Pos, cursor);
    HexPreview view;
    view.setDump(ramp(16 * 1025 - 3));
    view.setSelection(anchor, cursor);
    const qint64 a = offsetOf(view, view.anchorPosition());
    const qint64 c = offsetOf(view, view.cursorPosition());
    const QString expected = view.text().mid(qMin(a, c), qAbs(c - a));
    QCOMPARE(view.selectedText(), expected);
    QCOMPARE(view.selectedLength(), expected.size());
}

void TestHexPreview::copiesExactlyAndRefusesHugeSelections()
{
    HexPreview view;
    QClipboard *clipboard = QApplication::clipboard();
    const QByteArray bytes = ramp(1600); // 100 rows
    view.setDump(bytes);
    clipboard->setText(QStringLiteral("before"));
    QVERIFY(!view.copy()); // nothing selected: the clipboard keeps its text
    QTest::keyClick(&view, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClick(&view, Qt::Key_C, Qt::ControlModifier);
    QCOMPARE(clipboard->text(), HexDump::text(bytes));

    view.setCopyLimit(1000);
    QSignalSpy refused(&view, &HexPreview::copyRefused);
    view.setSelection(Pos{2, 0}, Pos{13, 80}); // 11 * 82 + 80 = 982 characters
    QVERIFY(view.copy());
    QCOMPARE(clipboard->text().size(), 982);
    view.selectAll();
    QVERIFY(!view.copy());
    QCOMPARE(refused.size(), 1);
    QCOMPARE(refused.first().first().toLongLong(), HexDump::textLength(1600));
    QCOMPARE(clipboard->text().size(), 982);
}

void TestHexPreview::mouseAndKeyboardSelect()
{
    HexPreview view;
    view.resize(400, 200); // narrower than a row
    view.setDump(ramp(4000));
    view.show();
    QVERIFY(QTest::qWaitForWindowExposed(&view));
    QWidget *vp = view.viewport();
    const auto at = [&](Pos p) { return view.characterRect(p).topLeft() + QPoint(1, 2); };
    QTest::mousePress(vp, Qt::LeftButton, {}, at(Pos{2, 1}));
    QTest::mouseMove(vp, at(Pos{3, 9}));
    QTest::mouseRelease(vp, Qt::LeftButton, {}, at(Pos{3, 9}));
    QCOMPARE(view.selectedText(), view.line(2).mid(1) + "\r\n" + view.line(3).left(9));
    QTest::mouseDClick(vp, Qt::LeftButton, {}, at(Pos{4, 3}));
    QCOMPARE(view.selectedText(), QStringLiteral("00000020|"));

    // Dragging below the box scrolls it and goes on selecting.
    QTest::mousePress(vp, Qt::LeftButton, {}, at(Pos{2, 0}));
    QTest::mouseMove(vp, QPoint(20, vp->height() + 40));
    QTRY_VERIFY(view.firstVisibleLine() > 5);
    QTest::mouseRelease(vp, Qt::LeftButton, {}, QPoint(20, vp->height() + 40));
    QVERIFY(view.cursorPosition().line > view.firstVisibleLine());

    view.setSelection(Pos{2, 0}, Pos{2, 0});
    QTest::keyClick(&view, Qt::Key_Down, Qt::ShiftModifier);
    QTest::keyClick(&view, Qt::Key_End, Qt::ShiftModifier);
    QCOMPARE(view.selectedText(), view.line(2) + "\r\n" + view.line(3));
    // Up keeps the screen column across the double-width header: before "00".
    view.setSelection(Pos{2, 11}, Pos{2, 11});
    QTest::keyClick(&view, Qt::Key_Up);
    QTest::keyClick(&view, Qt::Key_Up);
    QCOMPARE(view.cursorPosition(), (Pos{0, 9}));
    QTest::keyClick(&view, Qt::Key_End, Qt::ControlModifier);
    QCOMPARE(view.firstVisibleLine() + view.visibleLines(), view.lineCount());
}

void TestHexPreview::headerStandsOverTheCells()
{
    HexPreview view;
    view.setDump(ramp(64));
    // "|" and each column number's digits stand at the same x as in the rows.
    QCOMPARE(view.characterRect(Pos{0, 7}).x(), view.characterRect(Pos{2, 9}).x());
    for (int i = 0; i < 32; ++i)
        QCOMPARE(view.characterRect(Pos{0, 9 + i / 2 * 3 + i % 2}).x(),
                 view.characterRect(Pos{3, 11 + i / 2 * 3 + i % 2}).x());
    QCOMPARE(view.characterRect(Pos{0, 3}).width(), 2 * view.cellWidth()); // 地

    QCOMPARE(view.font().families().value(0), QStringLiteral("AR PL UMing CN"));
    if (!QFontDatabase::hasFamily(QStringLiteral("AR PL UMing CN")))
        QSKIP("AR PL UMing CN is not installed");
    QCOMPARE(view.cellWidth(), 7);
    QCOMPARE(QFontMetricsF(view.font()).horizontalAdvance(QStringLiteral("地址")), 28.0);
}

void TestHexPreview::largestImageScrollsToItsLastRow()
{
    HexPreview view;
    view.resize(500, 220);
    view.setDump(QByteArray(67108863, 'A'));
    QCOMPARE(view.lineCount(), 2 + 4194304);
    view.show();
    QVERIFY(QTest::qWaitForWindowExposed(&view));
    view.scrollToLine(view.lineCount());
    QCOMPARE(view.firstVisibleLine(), view.lineCount() - view.visibleLines());
    const quint64 paints = view.paintCount();
    view.viewport()->repaint();
    QVERIFY(view.paintCount() > paints);
    QCOMPARE(view.line(view.lineCount() - 1),
             " 03FFFFF0|" + QString(" 41").repeated(15) + "   |  |" + QString(15, 'A') + "  |");
    view.selectAll(); // costs nothing until copied, and copying it is refused
    QCOMPARE(view.selectedLength(), HexDump::textLength(67108863));
    QVERIFY(!view.copy());
}

QTEST_MAIN(TestHexPreview)
#include "tst_hexpreview.moc"
