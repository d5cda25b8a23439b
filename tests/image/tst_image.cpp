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
        QCOMPARE(copyAll(view), expected);
    }

    void kiloBytes_data()
    {
        QTest::addColumn<int>("length");
        QTest::addColumn<QString>("kB");
        // clang-format off
        for (auto [length, kB] : {std::pair{0, "0kB"}, {51, "0kB"}, {52, "0.1kB"}, {256, "0.2kB"}, {768, "0.8kB"},
                                  {1000, "1kB"}, {1024, "1kB"}, {1500, "1.5kB"}, {20480, "20kB"}})
            QTest::addRow("%d", length) << length << kB;
        // clang-format on
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
        QCOMPARE(view.line(2 + 4096).left(10), " 00010000|");
        QTest::keyClick(&view, Qt::Key_End, Qt::ControlModifier);
        QCOMPARE(view.firstVisibleLine() + view.visibleLines(), 2 + 4194304);
        QCOMPARE(view.line(2 + 4194303),
                 " 03FFFFF0|" + QString(" 41").repeated(15) + "   |  |" + QString(15, 'A') + "  |");
        QApplication::clipboard()->setText("kept");
        QCOMPARE(copyAll(view), "kept"); // beyond the copy limit
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

        // Every other control keeps its caption as its name.
        for (QWidget *c : f.findChildren<QWidget *>()) {
            const char *caption = c->inherits("QGroupBox") ? "title"
                                  : c->inherits("QAbstractButton") || c->inherits("QLabel") ? "text"
                                                                                            : "";
            if (const QString text = c->property(caption).toString(); !text.isEmpty())
                QCOMPARE(QAccessible::queryAccessibleInterface(c)->text(QAccessible::Name), text);
        }
    }

private:
    static QString copyAll(HexPreview &view)
    {
        QTest::keyClick(&view, Qt::Key_A, Qt::ControlModifier);
        QTest::keyClick(&view, Qt::Key_C, Qt::ControlModifier);
        return QApplication::clipboard()->text();
    }
    QTemporaryDir m_home;
};

QTEST_MAIN(TestImage)
#include "tst_image.moc"
