#include "fakeport.h"
#include "fonts.h"
#include "hexdump.h"
#include "hexpreview.h"
#include "imagefacts.h"
#include "notices.h"
#include "ptypeer.h"
#include "qtdialogs.h"
#include "windowrig.h"
#include "wire.h"

#include <QtTest>

// What a tooltip shows (Qt takes text that looks like markup as markup).
static QString shownToolTip(const QString &tip)
{
    return Qt::mightBeRichText(tip) ? QTextDocumentFragment::fromHtml(tip).toPlainText() : tip;
}

// Creates <dir>/<name> with `length` bytes (sparse) and returns its path.
static QString makeImage(const QString &dir, const QString &name, qint64 length)
{
    QFile f(dir + "/" + name);
    if (!QDir().mkpath(QFileInfo(f).absolutePath()) || !f.open(QIODevice::WriteOnly) ||
        !f.resize(length))
        qFatal("cannot create the image");
    return f.fileName();
}

// The window on a port in memory: replies delivered by hand, the engine ticks only when told.
struct FakePortWindow : WindowRigOn<FakePort> {
    explicit FakePortWindow(int length)
    {
        form->startUp();
        form->download.setSelfTicking(false);
        form->portBox->setEditText(QStringLiteral("COM1"));
        form->image = testImage(length);
        form->downloadButton->setEnabled(true);
        fakes.tone.beeps.clear();
        port.log.clear(); // the start-up's scan of the ports
    }

    // "click", "tick54", replies "A".."D" ("C68"), "port=COM7", "refuse=busy|denied|missing",
    // "auto" (auto reset), "clear" (forget the port's log).
    void apply(const QString &events)
    {
        for (const QString &e : events.split(' ', Qt::SkipEmptyParts)) {
            const int times = qMax(1, e.mid(e.startsWith("tick") ? 4 : 1).toInt());
            for (int i = 0; i < times; ++i) {
                if (e == "click")
                    form->downloadButton->click();
                else if (e.startsWith("tick"))
                    form->download.tick();
                else if (e.startsWith("port="))
                    form->portBox->setEditText(e.mid(5));
                else if (e.startsWith("refuse="))
                    port.refuse = e.endsWith("busy")     ? PortError::Kind::Busy
                                  : e.endsWith("denied") ? PortError::Kind::PermissionDenied
                                                         : PortError::Kind::NotFound;
                else if (e == "auto")
                    form->autoResetBox->setChecked(true);
                else if (e == "clear")
                    port.log.clear();
                else
                    port.deliver(reply(e[0].toLatin1()));
            }
        }
    }
};

class TestMainWindow : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase() { installFontSubstitutions(); }

    // The settings file as read at start-up and rewritten: the last digit of a key's last line.
    void startUp_data()
    {
        QTest::addColumn<QByteArray>("settings"); // "<none>": no file
        QTest::addColumn<QString>("rates");       // download/reset
        QTest::addColumn<bool>("autoReset");
        QTest::addColumn<bool>("preview");
        QTest::addColumn<QByteArray>("fileAfter");
        const QByteArray defaults("XZBTL4\r\nFWBTL3\r\nRESET0\r\nYULAN0\r\n");
        const QByteArray zeros("XZBTL0\r\nFWBTL0\r\nRESET0\r\nYULAN0\r\n");
        const QByteArray last("XZBTL4\r\nFWBTL7\r\nRESET1\r\nYULAN1\r\n");
        // clang-format off
        QTest::newRow("first start") << QByteArray("<none>") << "115200/9600" << false << false << defaults;
        QTest::newRow("empty file") << QByteArray("") << "9600/1200" << false << false << zeros;
        QTest::newRow("the last items, both on") << last << "115200/115200" << true << true << last;
        QTest::newRow("one past the lists") << QByteArray("XZBTL5\r\nFWBTL8\r\nRESET1\r\n") << "115200/9600" << true << false << QByteArray("XZBTL4\r\nFWBTL3\r\nRESET1\r\nYULAN0\r\n");
        QTest::newRow("2 for a check box") << QByteArray("XZBTL1\r\nFWBTL1\r\nRESET2\r\nYULAN2\r\n") << "19200/2400" << false << false << QByteArray("XZBTL1\r\nFWBTL1\r\nRESET0\r\nYULAN0\r\n");
        QTest::newRow("last character carries the value") << QByteArray("XZBTL 12\r\n") << "38400/1200" << false << false << QByteArray("XZBTL2\r\nFWBTL0\r\nRESET0\r\nYULAN0\r\n");
        QTest::newRow("any order, last one wins") << QByteArray("RESET1\r\nXZBTL2\r\nXZBTL3\r\n") << "57600/1200" << true << false << QByteArray("XZBTL3\r\nFWBTL0\r\nRESET1\r\nYULAN0\r\n");
        QTest::newRow("bare key keeps the field") << QByteArray("XZBTL1\r\nRESET1\r\nXZBTL\r\nRESETx\r\n") << "19200/1200" << true << false << QByteArray("XZBTL1\r\nFWBTL0\r\nRESET1\r\nYULAN0\r\n");
        QTest::newRow("LF and CR alone") << QByteArray("XZBTL1\nFWBTL5\rYULAN1\nRESET1\r") << "19200/38400" << true << true << QByteArray("XZBTL1\r\nFWBTL5\r\nRESET1\r\nYULAN1\r\n");
        QTest::newRow("binary noise") << QByteArray("\x00\xff\xfeXZBTL1\r\n\x1a\x00YULAN1\r\nRESET\x00\r\n", 29) << "9600/1200" << false << false << zeros;
        QTest::newRow("binary noise on other lines, no end of line") << QByteArray("\x00\xff\r\nXZBTL1\r\n\x1a\x00\r\nYULAN1", 22) << "19200/1200" << false << true << QByteArray("XZBTL1\r\nFWBTL0\r\nRESET0\r\nYULAN1\r\n");
        QTest::newRow("other content and lower-case keys disappear") << QByteArray("# note\r\nFWBTL7\r\nxzbtl4\r\n") << "9600/115200" << false << false << QByteArray("XZBTL0\r\nFWBTL7\r\nRESET0\r\nYULAN0\r\n");
        // clang-format on
    }

    // The window as it starts: choices, ports listed before the beep, idle, size, font, focus.
    void startUp()
    {
        QFETCH(QByteArray, settings);
        QFETCH(bool, preview);
        PtyPeer peer;
        WindowRig h(settings == "<none>" ? nullptr : &settings);
        peer.linkAs(h.config + "/ports", 2);
        MainWindow &f = *h.form;
        QString portsAtBeep; // one beep, once the scan has listed the ports
        h.fakes.tone.onBeep = [&] {
            portsAtBeep = f.portBox->itemText(0) + f.portBox->itemText(1);
        };
        f.startUp();
        QCOMPARE(QPair(h.fakes.tone.beeps[0].hz, h.fakes.tone.beeps[0].ms), QPair(5000, 200));
        QCOMPARE(portsAtBeep, QStringLiteral("COM2"));
        QCOMPARE(f.portBox->currentText(), QStringLiteral("COM2"));

        QTEST(f.downloadRateBox->currentText() + '/' + f.resetRateBox->currentText(), "rates");
        QTEST(f.autoResetBox->isChecked(), "autoReset");
        QCOMPARE(QList({f.previewBox->isChecked(), f.hexPreview->isVisibleTo(&f)}),
                 QList({preview, preview}));
        QCOMPARE(QPair(f.windowHeightTwips(), f.imageGroupHeightTwips()),
                 preview ? QPair(6800, 4000) : QPair(3600, 760));
        QTEST(h.settingsFile(), "fileAfter");
        QCOMPARE(h.shown(), QStringLiteral("|单次下载|unlocked|closed|0|1"));
        QVERIFY(!f.downloadButton->isEnabled() && !f.repeatButton->isEnabled());
        QCOMPARE(f.lengthValue->text() + f.nameValue->text() + f.sizeValue->text(), QString());
        QCOMPARE(f.hexPreview->text(), HexDump::header()); // also after a preview built at start-up

        QCOMPARE(f.windowTitle(), QStringLiteral("Vantrel"));
        QCOMPARE(f.width(), 564);                   // 8460 twips at 15 to the pixel
        QCOMPARE(f.minimumSize(), f.maximumSize()); // the operator cannot resize it
        QCOMPARE(f.loadButton->geometry(), QRect(336, 16, 105, 33));
        QVERIFY(f.noticePanel->isHidden());
        // "宋体" must reach a real CJK face rather than a silent fallback to DejaVu.
        QCOMPARE(f.downloadButton->font().family(), QStringLiteral("宋体"));
        QVERIFY(QFont::substitutes(QStringLiteral("宋体"))
                    .contains(QStringLiteral("AR PL UMing CN"), Qt::CaseInsensitive));

        // Focus order (an editable box takes focus in its line edit, the preview in its viewport).
        const QList<QWidget *> expected{
            f.loadButton, f.downloadButton, f.repeatButton, f.exitButton, f.downloadRateBox,
            f.portBox,    f.resetRateBox,   f.autoResetBox, f.previewBox, f.hexPreview};
        QList<QWidget *> order;
        for (QWidget *w = f.loadButton; order.isEmpty() || w != f.loadButton;
             w = w->nextInFocusChain())
            for (QWidget *c : expected)
                if ((w == c || c->isAncestorOf(w)) && (w->focusPolicy() & Qt::TabFocus) &&
                    !order.endsWith(c))
                    order << c;
        QCOMPARE(order, expected);
    }

    void handlersRewriteTheFile()
    {
        WindowRig h;
        MainWindow &f = *h.form;
        f.startUp();
        const auto pick = [](QComboBox *box, int i) {
            box->setCurrentIndex(i); // as picked from the list
            emit box->activated(i);
        };
        f.autoResetBox->click();
        QCOMPARE(h.settingsFile(), QByteArray("XZBTL4\r\nFWBTL3\r\nRESET1\r\nYULAN0\r\n"));
        f.autoResetBox->click();
        pick(f.resetRateBox, 6);
        QCOMPARE(h.settingsFile(), QByteArray("XZBTL4\r\nFWBTL6\r\nRESET0\r\nYULAN0\r\n"));
        pick(f.downloadRateBox, 1);
        QCOMPARE(h.settingsFile(), QByteArray("XZBTL1\r\nFWBTL6\r\nRESET0\r\nYULAN0\r\n"));
    }

    // A rate typed into a box (keys sent to the focus widget) is used but never stored, Enter or
    // not.
    void typedRateAndEnterStoreNothing_data()
    {
        QTest::addColumn<bool>("resetBox"); // or the download rate box
        QTest::addColumn<QString>("typed");
        QTest::addColumn<int>("key");
        QTest::addColumn<int>("index"); // the box's selection afterwards; -1 as it was
        QTest::addColumn<QByteArray>("stored");
        // Any write reorders the file and adds all four keys.
        const QByteArray untouched = "FWBTL3\r\nXZBTL2\r\n\r\n";
        // clang-format off
        QTest::newRow("download, a list item, Return") << false << "57600" << int(Qt::Key_Return) << -1 << untouched;
        QTest::newRow("download, the chosen item itself") << false << "38400" << int(Qt::Key_Return) << -1 << untouched;
        QTest::newRow("download, no list item") << false << "250000" << int(Qt::Key_Return) << -1 << untouched;
        QTest::newRow("reset, a list item, keypad Enter") << true << "1200" << int(Qt::Key_Enter) << -1 << untouched;
        QTest::newRow("reset, text that is no rate") << true << "fast" << int(Qt::Key_Return) << -1 << untouched;
        QTest::newRow("download, Down picks the next item") << false << "" << int(Qt::Key_Down) << 3 << QByteArray("XZBTL3\r\nFWBTL3\r\nRESET0\r\nYULAN0\r\n");
        // clang-format on
    }

    void typedRateAndEnterStoreNothing()
    {
        QFETCH(bool, resetBox);
        QFETCH(QString, typed);
        QFETCH(int, key);
        QFETCH(int, index);
        const QByteArray settings = "XZBTL2\r\nFWBTL3\r\n";
        WindowRig h(&settings);
        MainWindow &f = *h.form;
        f.startUp(); // writes the file as read
        writeBytes(h.config + "/VANTREL_SET.SB", "FWBTL3\r\nXZBTL2\r\n\r\n");
        f.show();
        const auto hidden = qScopeGuard([&] { f.hide(); }); // gone while shown, it would close
        QVERIFY(QTest::qWaitForWindowActive(&f));
        QComboBox *box = resetBox ? f.resetRateBox : f.downloadRateBox;
        const int before = box->currentIndex();
        box->setFocus();
        QTRY_COMPARE(QApplication::focusWidget(), box); // its text field has it as focus proxy
        if (!typed.isEmpty()) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_A, Qt::ControlModifier);
            QTest::keyClicks(QApplication::focusWidget(), typed);
            QCOMPARE(box->currentText(), typed);
        }
        QTest::keyClick(QApplication::focusWidget(), Qt::Key(key));
        QTEST(h.settingsFile(), "stored");
        QCOMPARE(box->currentIndex(), index < 0 ? before : index);
        QCOMPARE(box->currentText(), typed.isEmpty() ? box->itemText(index) : typed);
    }

    void leavingClosesThePort_data()
    {
        QTest::addColumn<bool>("exitButton"); // or the close box
        QTest::newRow("exit button") << true;
        QTest::newRow("close box") << false;
    }

    void leavingClosesThePort() // with the port open
    {
        QFETCH(bool, exitButton);
        PtyPeer peer;
        WindowRig h;
        peer.linkAs(h.config + "/ports", 1);
        h.form->startUp();
        h.form->show();
        QVERIFY(h.port.open(h.config + "/ports/com1", LineSettings()).ok());
        exitButton ? h.form->exitButton->click() : void(h.form->close());
        QVERIFY(!h.port.isOpen() && !h.form->isVisible());
        QCOMPARE(h.fakes.tone.beeps.size(), exitButton ? 2 : 1);
    }

    // A click on "单次下载": blocks going out, the alarm, ports that cannot open, rates as typed.
    void download_data()
    {
        QTest::addColumn<int>("length");
        QTest::addColumn<QString>("rates"); // download/reset, as typed; "": as they start
        QTest::addColumn<QString>("events");
        QTest::addColumn<QString>("inAlarm"); // "N events": played on the N-th alarm beep
        QTest::addColumn<QString>("shown");   // at the end: see WindowRigOn::shown()
        QTest::addColumn<QString>("told");    // alarm panel (line 1/line 2/top twips), messages
        QTest::addColumn<QString>("wire");    // the port's open, line and TX log; "*": unchecked
        const QString idle = "|单次下载|unlocked|closed|0|1",
                      reset = "TX F1 F2 F3 F4 F5 E1 E2 E3 E4 E5 5D 4D 3D 2D 1D 5C 4C 3C 2C 1C";
        // clang-format off
        QTest::newRow("block 0 of 2, its last tick") << 1500 << "" << "click A tick B tick50" << "" << "下载进度：49%|停 止|locked|open|4072|1" << "" << "*";
        QTest::newRow("block 1 of 69") << 70000 << "" << "click A tick B C" << "" << "下载进度：1%|停 止|locked|open|236|1" << "" << "*";
        QTest::newRow("the last of 69") << 70000 << "" << "click A tick B C68" << "" << "下载进度：99%|停 止|locked|open|8145|1" << "" << "*";
        QTest::newRow("download failed: the bar stays") << 1500 << "" << "click A tick B tick51" << "" << "下载失败|单次下载|unlocked|closed|4072|6" << "    下载失败   / 请检查硬件连接/300" << "*";
        QTest::newRow("stop in the alarm") << 1500 << "" << "click A tick54" << "2 click" << "连接失败|单次下载|unlocked|closed|0|7" << "    连接失败   / 请检查硬件连接/300" << "*";
        QTest::newRow("a start in the alarm keeps port, stop and lock") << 1500 << "" << "click A tick B tick51" << "3 click click" << "连接中……|停 止|locked|open|0|8" << "    下载失败   / 请检查硬件连接/300" << "*";
        QTest::newRow("busy") << 1500 << "" << "refuse=busy click" << "" << idle << "提示信息!COM1已被其它程序打开，请选择其它串口！" << "";
        QTest::newRow("no permission") << 1500 << "" << "port=COM7 refuse=denied click" << "" << idle << "提示信息!COM7无法打开：当前用户没有使用该串口的权限。\n请把当前用户加入 dialout 组（sudo usermod -aG dialout $USER），注销并重新登录后再试。" << "";
        QTest::newRow("no device") << 1500 << "" << "refuse=missing click" << "" << idle << "" << "";
        QTest::newRow("COM alone") << 1500 << "" << "port=COM click" << "" << idle << "" << "";
        QTest::newRow("beyond COM255") << 1500 << "" << "port=COM256 click" << "" << idle << "" << "";
        QTest::newRow("beyond 16 bits") << 1500 << "" << "port=COM99999 click" << "" << idle << "" << "";
        QTest::newRow("no rate") << 1500 << "fast/9600" << "click" << "" << idle << "" << "";
        QTest::newRow("a rate beyond 32 bits") << 1500 << "4294967296/9600" << "click" << "" << idle << "" << "";
        QTest::newRow("rates typed") << 1500 << "250000/1200" << "auto click clear tick2" << "" << "连接中……|停 止|locked|open|0|1" << "" << "line 1200, " + reset + ", line 250000, TX 44 4D 46";
        QTest::newRow("a reset rate that is no rate") << 1500 << "115200/12 00" << "auto click clear tick2" << "" << "连接中……|停 止|locked|open|0|1" << "" << "line 115200, TX 44 4D 46";
        // clang-format on
    }

    void download()
    {
        QFETCH(int, length);
        QFETCH(QString, rates);
        QFETCH(QString, inAlarm);
        FakePortWindow w(length);
        if (!rates.isEmpty()) {
            w.form->downloadRateBox->setEditText(rates.section('/', 0, 0));
            w.form->resetRateBox->setEditText(rates.section('/', 1));
        }
        QString told;
        int alarmBeeps = 0;
        w.fakes.tone.onBeep = [&] {
            if (w.form->noticePanel->isHidden())
                return; // a click's beep
            told = w.form->noticeLine1->text() + '/' + w.form->noticeLine2->text() + '/' +
                   QString::number(w.form->noticePanelTopTwips());
            if (++alarmBeeps == inAlarm.section(' ', 0, 0).toInt())
                w.apply(inAlarm.section(' ', 1));
        };
        QFETCH(QString, events);
        w.apply(events);
        for (const auto &message : w.dialogs.messages)
            told += message.title + message.text;
        QTEST(w.shown(), "shown");
        QTEST(told, "told");
        QFETCH(QString, wire);
        if (wire != "*")
            QCOMPARE(w.port.log.filter(QRegularExpression("^(open|TX|line)")).join(", "), wire);
        QVERIFY(w.form->noticePanel->isHidden());
        for (const auto &beep : w.fakes.tone.beeps)
            QVERIFY(beep.hz == 5000 && beep.ms == 200);
        QVERIFY(alarmBeeps == 0 || w.fakes.clock.now >= 5 * 200); // 200 ms after each beep
    }

    void namesArePlainText_data()
    {
        QTest::addColumn<QString>("name"); // a "/" makes a folder: the label shows the last part
        QTest::newRow("markup, entity, arg markers") << "<b>%1</b>&amp;%2.bin";
        QTest::newRow("markup in the last part") << "<b>bold<br>x.bin";
        QTest::newRow("255 bytes") << QString(251, 'n') + ".bin";
        QTest::newRow("line break") << "two\nlines.bin";
    }

    void namesArePlainText()
    {
        QFETCH(QString, name);
        WindowRig h;
        MainWindow &f = *h.form;
        f.startUp();
        h.dialogs.fileAnswers << makeImage(h.home.path(), name, 3)
                              << h.home.path() + "/missing/" + name;
        f.loadButton->click();
        QCOMPARE(f.nameValue->textFormat(), Qt::PlainText);
        QString shown = f.nameValue->text();
        if (shown.contains(QChar(0x2026))) // cut: the tooltip tells the whole name
            QCOMPARE(shownToolTip(f.nameValue->toolTip()), name);
        else
            QCOMPARE(shown.replace(QChar(0x240A), "\n"), name.mid(name.lastIndexOf('/') + 1));
        // Every notice naming a file or a device carries the name as it is, in a plain-text box.
        f.loadButton->click();
        QCOMPARE(h.dialogs.messages.size(), 1);
        QVERIFY(h.dialogs.messages[0].text.contains(name));
        QMessageBox *seen = nullptr;
        QTimer::singleShot(0, [&] {
            seen = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
            QVERIFY(seen);
            QCOMPARE(seen->textFormat(), Qt::PlainText);
            QCOMPARE(seen->text(), h.dialogs.messages[0].text);
            seen->accept();
        });
        QtDialogs().information(&f, Notices::title, h.dialogs.messages[0].text);
        QVERIFY(seen);
    }

    // HEX loads with its gap filled, a broken one keeps the image before; repeat does nothing.
    void loadsFirmwareFiles()
    {
        WindowRig h;
        MainWindow &f = *h.form;
        f.startUp();
        const QByteArray hex(":020000040800F2\r\n:0440000001020304B2\r\n:02400600AABB53\r\n"
                             ":00000001FF\r\n");
        const auto shown = [&] {
            return QStringList{f.nameValue->text(), shownToolTip(f.nameValue->toolTip()),
                               f.lengthValue->text(), f.sizeValue->text()};
        };
        h.load("r1.bin", QByteArray(1500, 'r'));
        QCOMPARE(shown(), (QStringList{"r1.bin", "", "1500", "1.5kB"}));
        const auto state = [&] {
            return h.shown() + h.settingsFile() + QString::number(h.dialogs.fileDialogs);
        };
        const QString before = state();
        QTest::mouseClick(f.repeatButton, Qt::LeftButton);
        QCOMPARE(state(), before);
        QVERIFY(f.repeatButton->isEnabled() && h.dialogs.messages.isEmpty());
        h.load("bad.hex", QByteArray(hex).replace("BB53", "BB54"));
        QCOMPARE(shown(), (QStringList{"r1.bin", "", "1500", "1.5kB"}));
        QCOMPARE(f.image, QByteArray(1500, 'r'));
        QCOMPARE(h.dialogs.messages.size(), 1);
        QVERIFY(h.dialogs.messages[0].text.contains(QStringLiteral("bad.hex”第3行")));
        h.load("APP.HEX", hex);
        QCOMPARE(f.image, QByteArray::fromHex("01020304FFFFAABB"));
        QCOMPARE(shown(), (QStringList{"APP.HEX", "APP.HEX\n起始地址 0x08004000", "8", "0kB"}));
        QCOMPARE(h.dialogs.messages.size(), 1);
    }

    // The window's filter in Qt's own dialog: raw images first, then all firmware, any case.
    void fileDialogOffersBinFirst()
    {
        WindowRig h;
        h.form->onLoadClicked(); // the fake dialog keeps the filter
        QTemporaryDir dir;
        const QStringList firmware{"a.HEX",  "b.ihx", "c.S19", "d.s28", "e.s37",
                                   "f.SRec", "g.mot", "h.Elf", "i.axf", "j.OUT"};
        for (const QString &n : firmware + QStringList{"fw.Bin", "fw.bin.txt"})
            QVERIFY(QFile(dir.filePath(n)).open(QIODevice::WriteOnly));
        const QList<QStringList> expected{{"fw.Bin"}, firmware};
        QList<QStringList> listed;
        QTimer::singleShot(0, this, [&] {
            auto *dialog = qobject_cast<QFileDialog *>(QApplication::activeModalWidget());
            const auto close = qScopeGuard([dialog] { dialog->reject(); });
            // Qt's own dialog: a desktop's native one (GTK's) minds case in "*.BIN".
            QVERIFY(dialog->testOption(QFileDialog::DontUseNativeDialog));
            dialog->setDirectory(dir.path());
            auto *model = dialog->findChild<QFileSystemModel *>();
            const QModelIndex root = model->index(dir.path());
            const auto names = [&] {
                QStringList shown;
                for (int r = 0; r < model->rowCount(root); ++r)
                    shown << model->index(r, 0, root).data().toString();
                shown.sort();
                return shown;
            };
            QCOMPARE(dialog->nameFilters().size(), expected.size());
            for (const QString &filter : dialog->nameFilters()) {
                dialog->selectNameFilter(filter);
                QTRY_COMPARE(names(), expected[listed.size()]);
                listed << names();
            }
        });
        QCOMPARE(QtDialogs().getOpenFileName(nullptr, h.dialogs.lastFilter), QString());
        QCOMPARE(listed, expected);
    }

    void noControlsOverlap_data()
    {
        QTest::addColumn<qint64>("length"); // with a 255-byte file name
        QTest::addColumn<QString>("size");
        QTest::newRow("longest image") << qint64(67108863) << "65536kB";
        QTest::newRow("widest size") << qint64(67108762) << "65535.9kB";
    }

    void noControlsOverlap()
    {
        QFETCH(qint64, length);
        QFETCH(QString, size);
        WindowRig h;
        MainWindow &f = *h.form;
        f.startUp();
        f.show();
        h.dialogs.fileAnswers << makeImage(h.home.path(), QString(251, 'W') + ".bin", length);
        f.loadButton->click();
        QCOMPARE(f.lengthValue->text() + ' ' + f.sizeValue->text(),
                 QString::number(length) + ' ' + size);
        // Visible siblings by drawn extent; only the status line lies over the progress bar.
        const auto extent = [](QWidget *w) {
            QRect r = w->geometry();
            if (auto *l = qobject_cast<QLabel *>(w))
                r.setWidth(qMin(r.width(), l->fontMetrics().horizontalAdvance(l->text())));
            else if (qobject_cast<QCheckBox *>(w))
                r.setWidth(qMin(r.width(), w->sizeHint().width()));
            return r;
        };
        QList<QWidget *> controls;
        for (QWidget *w : f.findChildren<QWidget *>())
            if (w->isVisibleTo(&f) && !qobject_cast<QLineEdit *>(w) &&
                (w->parentWidget() == &f || qobject_cast<QGroupBox *>(w->parentWidget())))
                controls << w;
        const QList<QWidget *> bar{f.progressTrack, f.progressFill, f.statusLine};
        for (QWidget *a : controls)
            for (QWidget *b : controls)
                if (a < b && a->parentWidget() == b->parentWidget() &&
                    !(bar.contains(a) && bar.contains(b)))
                    QVERIFY2(!extent(a).intersects(extent(b)),
                             qPrintable(QDebug::toString(extent(a)) + QDebug::toString(extent(b))));
    }
};

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
