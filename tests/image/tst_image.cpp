#include "hexdump.h"
#include "hexpreview.h"
#include "imagefacts.h"
#include "windowrig.h"

#include <QtTest>
#include <QtWidgets>

class TestImage : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase() { qputenv("XDG_CONFIG_HOME", m_home.path().toLocal8Bit()); }

    void dumpText_data()
    {
        QTest::addColumn<QByteArray>("data");
        QTest::addColumn<QString>("rows");
        QTest::newRow("20 bytes")
            << QByteArray::fromHex("41422021227D7E7F80FF000A3031323334353637")
            << "\n 00000000| 41 42 20 21 22 7D 7E 7F 80 FF 00 0A 30 31 32 33|  |AB  \"}      0123 |"
               "\n 00000010| 34 35 36 37                                    |  |4567             |";
        QTest::newRow("nothing loaded") << QByteArray() << R"(
 00000000|                                                |  |                 |)";
    }
    void dumpText()
    {
        QFETCH(QByteArray, data);
        QFETCH(QString, rows);
        const QString expected = "   地址  | 00 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F\r\n" +
                                 QString(80, '*') + rows.replace("\n", "\r\n");
        HexPreview view; // the preview holds and copies exactly that text
        view.setDump(data);
        QTest::keyClick(&view, Qt::Key_A, Qt::ControlModifier);
        QTest::keyClick(&view, Qt::Key_C, Qt::ControlModifier);
        QCOMPARE(QApplication::clipboard()->text(), expected);
    }

    // The selection is painted over whole grid cells, from its first character to its last on
    // each line and one cell further where the line break is selected too; its characters are
    // drawn in the highlighted-text colour, the others not.
    void selectionIsPainted_data()
    {
        QTest::addColumn<int>("anchor"); // character offsets in "ab中cd\r\nxyz\r\n12"
        QTest::addColumn<int>("cursor");
        QTest::addColumn<QList<int>>("cells"); // per line the first and end grid column
        QTest::newRow("none") << 3 << 3 << QList<int>{0, 0, 0, 0, 0, 0};
        QTest::newRow("inside a line, over the wide one") << 1 << 4 << QList<int>{1, 5, 0, 0, 0, 0};
        QTest::newRow("backwards over a break") << 9 << 3 << QList<int>{4, 7, 0, 2, 0, 0};
        QTest::newRow("the line break alone") << 5 << 7 << QList<int>{6, 7, 0, 0, 0, 0};
        QTest::newRow("everything") << 0 << 14 << QList<int>{0, 7, 0, 4, 0, 2};
    }
    void selectionIsPainted()
    {
        QFETCH(int, anchor);
        QFETCH(int, cursor);
        QFETCH(QList<int>, cells);
        HexPreview view;
        view.resize(300, 120);
        view.setText(QStringLiteral("ab中cd\r\nxyz\r\n12"));
        QPalette pal = view.palette();
        for (auto [role, colour] : {std::pair{QPalette::Base, Qt::white},
                                    {QPalette::Text, Qt::black},
                                    {QPalette::Highlight, Qt::green},
                                    {QPalette::HighlightedText, Qt::blue}})
            pal.setColor(role, colour);
        view.setPalette(pal);
        view.setSelection(view.positionOf(anchor), view.positionOf(cursor));
        const QImage shot = view.viewport()->grab().toImage();

        QFont font = view.font();
        font.setKerning(false);
        const QFontMetricsF fm(font);
        const int cell = qRound(fm.horizontalAdvance('0')), height = qCeil(fm.lineSpacing());
        const int margin = 4;
        // Highlight with highlighted text blended over it has no red; white and grey have.
        const auto selected = [](QRgb p) { return qRed(p) < 32 && qGreen(p) + qBlue(p) >= 224; };
        for (int line = 0; line < 3; ++line) {
            const int top = margin + line * height;
            QList<int> span; // the selected pixels across the middle of the line
            for (int x = 0; x < shot.width(); ++x)
                if (selected(shot.pixel(x, top + height / 2)))
                    span << x;
            const int from = margin + cells[2 * line] * cell,
                      to = margin + cells[2 * line + 1] * cell;
            QCOMPARE(span.size(), to - from);
            if (!span.isEmpty())
                QCOMPARE(QPair(span.first(), span.last() + 1), QPair(from, to));
            bool selectedInk = false, otherInk = false;
            for (int y = top; y < top + height; ++y)
                for (int x = 0; x < shot.width(); ++x) {
                    const QRgb p = shot.pixel(x, y);
                    selectedInk |= qBlue(p) >= qMax(qRed(p), qGreen(p)) + 64;
                    otherInk |= x >= margin && (x < from || x >= to) && qRed(p) < 200;
                }
            const int columns = line == 0 ? 6 : view.lineLength(line); // "中" takes two
            QCOMPARE(selectedInk, qMin(cells[2 * line + 1], columns) > cells[2 * line]);
            QCOMPARE(otherInk, cells[2 * line] > 0 || cells[2 * line + 1] < columns);
        }
    }

    // The size label's kB, rounded to a tenth. (How an image splits into blocks shows on the
    // wire in tst_downloadengine.)
    void kiloBytes_data()
    {
        QTest::addColumn<int>("length");
        QTest::addColumn<QString>("kB");
        for (auto [length, kB] : {std::pair{0, "0kB"},
                                  {51, "0kB"},
                                  {52, "0.1kB"},
                                  {256, "0.2kB"},
                                  {768, "0.8kB"},
                                  {1000, "1kB"},
                                  {1024, "1kB"},
                                  {1500, "1.5kB"},
                                  {20480, "20kB"}})
            QTest::addRow("%d", length) << length << kB;
    }
    void kiloBytes()
    {
        QFETCH(int, length);
        QTEST(kiloBytesText(length), "kB");
    }

    void loadAndPreview()
    {
        const int length = 32001;
        WindowRig w;
        w.form->startUp();
        MainWindow &f = *w.form;
        const auto shown = [&f] {
            return QStringList{f.lengthValue->text(), f.sizeValue->text(), f.nameValue->text(),
                               f.hexPreview->text()};
        };
        QByteArrayList saved; // the settings file's last line after each click on the box
        const auto clickPreview = [&] {
            f.previewBox->click();
            saved << w.settingsFile().right(8);
        };
        bool locked = true; // at the build's one pump: the panel up, the controls locked
        w.fakes.pump.hook = [&] {
            locked &= !f.noticePanel->isHidden() && !f.previewBox->isEnabled();
        };
        clickPreview(); // nothing loaded: one blank row, then every control enabled
        QCOMPARE(w.fakes.pump.waits, 1);
        QVERIFY(f.hexPreview->text() == HexDump::text({}) && f.downloadButton->isEnabled());

        const QByteArray first(length, 'a'), second(20, 'b');
        w.load("Fw 主板.bin", first);
        QCOMPARE(w.fakes.pump.waits, 2);
        const QStringList facts = shown();
        QCOMPARE(facts, (QStringList{QString::number(length), kiloBytesText(length), "Fw 主板.bin",
                                     HexDump::text(first)}));
        f.onLoadClicked(); // cancelled: image, labels, buttons and preview stay
        QCOMPARE(shown(), facts);
        QVERIFY(f.downloadButton->isEnabled() && f.repeatButton->isEnabled() && f.image == first);
        QVERIFY(w.dialogs.messages.isEmpty());

        w.load("second.BIN", second);
        QCOMPARE(shown(), (QStringList{"20", "0kB", "second.BIN", HexDump::text(second)}));
        clickPreview();
        QCOMPARE(f.hexPreview->text(), HexDump::text(second)); // hidden, not cleared
        clickPreview();
        QCOMPARE(saved, (QByteArrayList{"YULAN1\r\n", "YULAN0\r\n", "YULAN1\r\n"}));
        QVERIFY(locked && !f.noticePanel->isVisibleTo(&f));

        HexPreview &view = *f.hexPreview; // the largest image the length frame can announce
        view.setDump(QByteArray(67108863, 'A'));
        QCOMPARE(view.line(2 + 2000).left(10), " 00007D00|");
        QCOMPARE(view.line(2 + 4096).left(10), " 00010000|");
        QTest::keyClick(&view, Qt::Key_End, Qt::ControlModifier);
        QCOMPARE(view.firstVisibleLine() + view.visibleLines(), 2 + 4194304);
        QCOMPARE(view.line(2 + 4194303),
                 " 03FFFFF0|" + QString(" 41").repeated(15) + "   |  |" + QString(15, 'A') + "  |");
        QApplication::clipboard()->setText("kept");
        QTest::keyClick(&view, Qt::Key_A, Qt::ControlModifier); // beyond the copy limit
        QTest::keyClick(&view, Qt::Key_C, Qt::ControlModifier);
        QCOMPARE(QApplication::clipboard()->text(), "kept");
        QCOMPARE(w.dialogs.messages.size(), 1);
        QVERIFY(w.dialogs.messages[0].text.contains("343933066个字符，太大") &&
                w.dialogs.messages[0].text.contains("最多可复制33554432个字符"));
    }

    // A screen reader reads the preview as a read-only text: its lines, caret, selection, screen.
    void accessibleText_data()
    {
        QTest::addColumn<int>("length"); // the image loaded with the preview on; -1: none
        QTest::newRow("header after start-up") << -1;
        QTest::newRow("dump of 20 bytes") << 20;
        QTest::newRow("largest dump") << 67108863;
    }
    void accessibleText()
    {
        QFETCH(int, length);
        WindowRig w;
        w.form->startUp();
        MainWindow &f = *w.form;
        QByteArray image(qMax(length, 0), Qt::Uninitialized);
        for (int i = 0; i < image.size(); ++i)
            image[i] = char(i * 7 % 251);
        QStringList lines{HexDump::headerLine(), QString(80, '*')}; // the first and last two
        if (length >= 0) {
            f.previewBox->click();
            w.load("fw.bin", image);
            const qint64 rows = HexDump::rowCount(length);
            lines << HexDump::row(image, rows - 2) << HexDump::row(image, rows - 1);
        }
        QAccessibleInterface *a = QAccessible::queryAccessibleInterface(f.hexPreview);
        QVERIFY(a && a->role() == QAccessible::EditableText && a->state().readOnly);
        QAccessibleTextInterface *t = a->textInterface();
        const int count = t->characterCount();
        QCOMPARE(count, length < 0 ? 138 : HexDump::textLength(length));
        if (length < 1 << 20)
            QCOMPARE(t->text(0, count), f.hexPreview->text());
        QCOMPARE(t->text(50, 70), (lines[0] + "\r\n" + lines[1]).mid(50, 20));
        int s = 0, e = 0;
        QCOMPARE(t->textAtOffset(count - 1, QAccessible::LineBoundary, &s, &e), lines.last());
        QCOMPARE(QList<int>({s, e}), QList<int>({count - 80, count}));
        QCOMPARE(t->textBeforeOffset(s, QAccessible::LineBoundary, &s, &e),
                 lines[lines.size() - 2] + "\r\n");

        t->setSelection(0, count - 3, count - 90);
        const QString tail = lines[lines.size() - 2] + "\r\n" + lines.last();
        QCOMPARE(f.hexPreview->selectedText(), tail.mid(tail.size() - 90, 87));
        t->selection(0, &s, &e);
        QCOMPARE(QList<int>({t->selectionCount(), s, e}), QList<int>({1, count - 90, count - 3}));
        t->setCursorPosition(count);
        QCOMPARE(QList<int>({t->cursorPosition(), t->selectionCount()}), QList<int>({count, 0}));
        // On screen: from the first visible line (the caret's page) to the caret.
        const QRect caret = t->characterRect(count - 1);
        QCOMPARE(t->offsetAtPoint(caret.center()), count - 1);
        const int top = t->offsetAtPoint(f.hexPreview->viewport()->mapToGlobal(QPoint(5, 5)));
        QVERIFY(t->textAtOffset(top, QAccessible::LineBoundary, &s, &e)
                    .startsWith(f.hexPreview->line(f.hexPreview->firstVisibleLine())));
        QVERIFY(s <= top && top < e);

        // Every other control keeps its caption as its name (an empty one gives way to its
        // frame's caption).
        for (QWidget *c : f.findChildren<QWidget *>()) {
            const char *caption = c->inherits("QGroupBox") ? "title"
                                  : c->inherits("QAbstractButton") || c->inherits("QLabel") ? "text"
                                                                                            : "";
            if (const QString text = c->property(caption).toString(); !text.isEmpty())
                QCOMPARE(QAccessible::queryAccessibleInterface(c)->text(QAccessible::Name), text);
        }
    }

private:
    QTemporaryDir m_home;
};

QTEST_MAIN(TestImage)
#include "tst_image.moc"
