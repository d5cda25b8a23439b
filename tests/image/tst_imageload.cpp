#include "dialogs.h"
#include "fakes.h"
#include "fonts.h"
#include "form1.h"
#include "hexdump.h"
#include "hexpreview.h"
#include "portmap.h"
#include "qtserialcomponent.h"
#include "shape.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QFileSystemModel>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QtTest>

#include <sys/stat.h>

namespace
{

// One window with fake platform services and a fresh config folder, started up.
struct Harness {
    explicit Harness(bool preview)
    {
        qputenv("XDG_CONFIG_HOME", home.path().toLocal8Bit());
        config = home.path() + "/vantrel";
        QDir().mkpath(config + "/ports");
        QFile f(config + "/VANTREL_SET.SB");
        f.open(QIODevice::WriteOnly);
        f.write(preview ? "XZBTL4\r\nFWBTL3\r\nRESET0\r\nYULAN1\r\n"
                        : "XZBTL4\r\nFWBTL3\r\nRESET0\r\nYULAN0\r\n");
        f.close();
        fakes.pump.clock = &fakes.clock; // each delay_ms(1) is one wait
        map = std::make_unique<PortMap>(config);
        comm = std::make_unique<QtSerialComponent>(*map);
        form = std::make_unique<Form1>(fakes.platform, *comm, config);
        form->Form_Load();
    }
    QByteArray settingsFile() const
    {
        QFile f(config + "/VANTREL_SET.SB");
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
    }
    QString file(const QString &name, const QByteArray &bytes)
    {
        QFile f(home.filePath(name));
        f.open(QIODevice::WriteOnly);
        f.write(bytes);
        return f.fileName();
    }
    // Clicks "加载Bin文件" with the dialog answering `path` ("" cancels).
    void load(const QString &path)
    {
        fakes.dialogs.fileAnswers.enqueue(path);
        form->Command2_Click();
    }
    QStringList labels() const
    {
        return {form->Label2->text(), form->Label5->text(), form->Label3->text()};
    }
    QList<QWidget *> lockable() const
    {
        Form1 &f = *form;
        return {f.Command1,   f.Command2, f.Command3, f.Command4, f.ComboComm,
                f.Comboxzbtv, f.Check1,   f.Check2,   f.Combo2};
    }

    QTemporaryDir home;
    QString config;
    FakePlatform fakes;
    std::unique_ptr<PortMap> map;
    std::unique_ptr<QtSerialComponent> comm;
    std::unique_ptr<Form1> form;
};

QByteArray ramp(int length)
{
    QByteArray data(length, Qt::Uninitialized);
    for (int i = 0; i < length; ++i)
        data[i] = char(i * 7);
    return data;
}

} // namespace

class TestImageLoad : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void loadShowsTheFacts_data();
    void loadShowsTheFacts();
    void loadStepsInOrder();
    void nameWithoutFolderIsShownWhole();
    void cancelKeepsEverything();
    void secondLoadReplacesEverything();
    void refusedFileKeepsTheImage_data();
    void refusedFileKeepsTheImage();
    void previewBuildLocksAndShowsThePanel();
    void previewBuildPumpsEvery2000Rows_data();
    void previewBuildPumpsEvery2000Rows();
    void tickingBeforeAnyLoad();
    void untickKeepsTextAndTickRebuilds();
    void everyClickSavesBeforeTheLayoutChanges();
    void fileDialogListsBinOfAnyCase();
    void tooLargeCopyIsExplained();
};

void TestImageLoad::initTestCase()
{
    installFontSubstitutions();
}

void TestImageLoad::loadShowsTheFacts_data()
{
    QTest::addColumn<int>("length");
    QTest::addColumn<QString>("bytes");
    QTest::addColumn<QString>("size");
    QTest::newRow("1536") << 1536 << "1536"
                          << "1.5kB";
    QTest::newRow("1024") << 1024 << "1024"
                          << "1kB";
    QTest::newRow("256") << 256 << "256"
                         << "0.2kB";
    QTest::newRow("1") << 1 << "1"
                       << "0kB";
    QTest::newRow("1280") << 1280 << "1280"
                          << "1.2kB";
}

void TestImageLoad::loadShowsTheFacts()
{
    QFETCH(int, length);
    QFETCH(QString, bytes);
    QFETCH(QString, size);
    for (bool preview : {false, true}) {
        Harness h(preview);
        Form1 &f = *h.form;
        const QByteArray data = ramp(length);
        const QString path = h.file("Fw 主板.bin", data);
        h.load(path);
        QCOMPARE(h.labels(), (QStringList{bytes, size, "Fw 主板.bin"}));
        QCOMPARE(f.image.BIN_PATH, path);
        QCOMPARE(f.image.BIN_LEN, length);
        QCOMPARE(f.image.BIN_DATA, data);
        QVERIFY(f.Command1->isEnabled());
        QVERIFY(f.Command3->isEnabled());
        QCOMPARE(f.Text1->text(), preview ? HexDump::text(data) : HexDump::header());
        QCOMPARE(f.Text1->isVisibleTo(&f), preview);
        QCOMPARE(f.windowHeightTwips(), preview ? 6800 : 3600);
        QVERIFY(h.fakes.dialogs.messages.isEmpty());
    }
}

void TestImageLoad::loadStepsInOrder()
{
    Harness h(true);
    Form1 &f = *h.form;
    f.Label8->setText(QStringLiteral("下载进度：42%"));
    f.Shape2->setWidthTwips(3000);
    const int beepsBefore = h.fakes.tone.beeps.size();
    bool checked = false;
    h.fakes.dialogs.onFileDialog = [&] {
        // Beep first, then the progress display is emptied, then the dialog.
        QCOMPARE(h.fakes.tone.beeps.size(), beepsBefore + 1);
        QCOMPARE(h.fakes.tone.beeps.last().hz, 5000);
        QCOMPARE(h.fakes.tone.beeps.last().ms, 200);
        QCOMPARE(f.Label8->text(), QString());
        QCOMPARE(f.Shape2->widthTwips(), 0.0);
        checked = true;
    };
    h.load(h.file("a.bin", ramp(40)));
    QVERIFY(checked);
    QCOMPARE(h.fakes.dialogs.lastFilter, QStringLiteral("(*.BIN)|*.BIN"));
    QCOMPARE(h.fakes.tone.beeps.size(), beepsBefore + 1);
}

void TestImageLoad::nameWithoutFolderIsShownWhole()
{
    Harness h(false);
    h.file("fw.bin", ramp(3));
    const QString cwd = QDir::currentPath();
    QDir::setCurrent(h.home.path());
    h.load(QStringLiteral("fw.bin"));
    QDir::setCurrent(cwd);
    QCOMPARE(h.form->Label3->text(), QStringLiteral("fw.bin"));
    QCOMPARE(h.form->image.BIN_LEN, 3);
}

void TestImageLoad::cancelKeepsEverything()
{
    Harness h(true);
    Form1 &f = *h.form;
    const QByteArray data = ramp(100);
    h.load(h.file("keep.bin", data));
    const QStringList labels = h.labels();
    const QString preview = f.Text1->text();
    f.Label8->setText(QStringLiteral("       下载成功"));
    const int beeps = h.fakes.tone.beeps.size();

    h.load(QString());
    QCOMPARE(h.fakes.tone.beeps.size(), beeps + 1);
    QCOMPARE(f.Label8->text(), QString());
    QCOMPARE(f.image.BIN_PATH, QString());
    QCOMPARE(f.image.BIN_LEN, 100);
    QCOMPARE(f.image.BIN_DATA, data);
    QCOMPARE(h.labels(), labels);
    QVERIFY(f.Command1->isEnabled() && f.Command3->isEnabled());
    QCOMPARE(f.Text1->text(), preview);
    QVERIFY(h.fakes.dialogs.messages.isEmpty());
}

void TestImageLoad::secondLoadReplacesEverything()
{
    Harness h(true);
    Form1 &f = *h.form;
    h.load(h.file("first.bin", ramp(1536)));
    const QByteArray second = QByteArray::fromHex("41422021227D7E7F80FF000A3031323334353637");
    h.load(h.file("second.BIN", second));
    QCOMPARE(h.labels(), (QStringList{"20", "0kB", "second.BIN"}));
    QCOMPARE(f.image.BIN_LEN, 20);
    QCOMPARE(f.image.BIN_DATA, second);
    QCOMPARE(f.Text1->text(),
             HexDump::header() +
                 QStringLiteral("\r\n 00000000| 41 42 20 21 22 7D 7E 7F 80 FF 00 0A 30 31 32 33|"
                                "  |AB  \"}      0123 |\r\n 00000010| 34 35 36 37              "
                                "                      |  |4567             |"));
}

void TestImageLoad::refusedFileKeepsTheImage_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<bool>("imageBefore");
    QTest::addColumn<QString>("says");
    const QList<std::pair<const char *, const char *>> kinds{{"missing", "不存在"},
                                                             {"folder", "是文件夹"},
                                                             {"empty", "空文件"},
                                                             {"64 MiB", "67108864字节"},
                                                             {"pipe", "不是普通文件"}};
    for (const auto &[kind, says] : kinds) {
        QTest::addRow("%s after an image", kind) << kind << true << says;
        QTest::addRow("%s as the first load", kind) << kind << false << says;
    }
}

void TestImageLoad::refusedFileKeepsTheImage()
{
    QFETCH(QString, kind);
    QFETCH(bool, imageBefore);
    QFETCH(QString, says);
    Harness h(true);
    Form1 &f = *h.form;
    const QByteArray data = ramp(33);
    if (imageBefore) {
        h.load(h.file("good.bin", data));
    } else {
        f.ALL_KEY(true); // as after a preview build: the download buttons are enabled
    }
    const QStringList labels = h.labels();
    const QString preview = f.Text1->text();

    QString path = h.home.filePath(kind + ".bin");
    if (kind == "folder") {
        QDir().mkpath(path);
    } else if (kind == "empty") {
        h.file(kind + ".bin", QByteArray());
    } else if (kind == "64 MiB") {
        QFile big(path);
        QVERIFY(big.open(QIODevice::WriteOnly) && big.resize(67108864));
    } else if (kind == "pipe") {
        QVERIFY(::mkfifo(QFile::encodeName(path).constData(), 0600) == 0);
    }
    h.load(path);

    QCOMPARE(f.image.BIN_LEN, imageBefore ? 33 : 0);
    QCOMPARE(f.image.BIN_DATA, imageBefore ? data : QByteArray());
    QCOMPARE(h.labels(), labels);
    QCOMPARE(f.Command1->isEnabled(), imageBefore);
    QCOMPARE(f.Command3->isEnabled(), imageBefore);
    QCOMPARE(f.Text1->text(), preview);
    QCOMPARE(h.fakes.dialogs.messages.size(), 1);
    const auto message = h.fakes.dialogs.messages.first();
    QCOMPARE(message.title, QStringLiteral("提示信息!"));
    QVERIFY2(message.text.contains(path) && message.text.contains(says), qPrintable(message.text));
    QCOMPARE(message.text.contains(QStringLiteral("保持不变")), imageBefore);

    // The image that stayed is still the one a download uses.
    f.LOAD_BIN();
    QCOMPARE(f.image.BIN_BLOCKS, 0);
    QCOMPARE(f.image.BIN_REMAIN, imageBefore ? 33 : 0);
}

void TestImageLoad::previewBuildLocksAndShowsThePanel()
{
    Harness h(true);
    Form1 &f = *h.form;
    f.Label1->setText(QStringLiteral("连接失败"));
    f.Label7->setText(QStringLiteral("x"));
    const QString before = f.Text1->text();
    const QByteArray data = ramp(5000);
    int pumps = 0;
    h.fakes.pump.hook = [&] {
        if (pumps++ > 0)
            return;
        // Inside the build, at the first pump: panel up, controls locked, old text still shown.
        QVERIFY(f.Frame4->isVisibleTo(&f));
        QCOMPARE(f.frame4TopTwips(), 1800);
        QCOMPARE(f.Label1->text(), QStringLiteral("正在加载BIN文件信息"));
        QCOMPARE(f.Label7->text(), QStringLiteral("    请稍等……"));
        for (QWidget *w : h.lockable())
            QVERIFY2(!w->isEnabled(), qPrintable(w->objectName()));
        QCOMPARE(f.Text1->text(), before);
    };
    h.load(h.file("p.bin", data));
    h.fakes.pump.hook = nullptr;
    QVERIFY(pumps > 0);
    QVERIFY(!f.Frame4->isVisibleTo(&f));
    for (QWidget *w : h.lockable())
        QVERIFY(w->isEnabled());
    QCOMPARE(f.Text1->text(), HexDump::text(data));
}

void TestImageLoad::previewBuildPumpsEvery2000Rows_data()
{
    QTest::addColumn<int>("length");
    QTest::addColumn<int>("delays");
    QTest::newRow("1 row") << 16 << 1;
    QTest::newRow("2000 rows") << 32000 << 1;
    QTest::newRow("2001 rows") << 32001 << 2;
    QTest::newRow("4000 rows") << 64000 << 2;
    QTest::newRow("4001 rows") << 64001 << 3;
}

void TestImageLoad::previewBuildPumpsEvery2000Rows()
{
    QFETCH(int, length);
    QFETCH(int, delays);
    Harness h(false);
    h.load(h.file("rows.bin", QByteArray(length, 'r')));
    const int waits = h.fakes.pump.waits;
    const quint32 clock = h.fakes.clock.now;
    h.form->Check2->setChecked(true);
    QCOMPARE(h.fakes.pump.waits - waits, delays);
    QCOMPARE(h.fakes.clock.now - clock, quint32(delays)); // each wait is delay_ms(1)
}

void TestImageLoad::tickingBeforeAnyLoad()
{
    Harness h(false);
    Form1 &f = *h.form;
    QCOMPARE(f.image.BIN_LEN, 0);
    f.Check2->setChecked(true);
    QCOMPARE(f.Text1->text(), HexDump::header() + QStringLiteral("\r\n 00000000|") +
                                  QString(48, u' ') + QStringLiteral("|  |") + QString(17, u' ') +
                                  QStringLiteral("|"));
    for (QWidget *w : h.lockable())
        QVERIFY(w->isEnabled()); // the unlock enables all nine, download buttons included
}

void TestImageLoad::untickKeepsTextAndTickRebuilds()
{
    Harness h(true);
    Form1 &f = *h.form;
    const QByteArray first = ramp(50);
    h.load(h.file("one.bin", first));
    f.Check2->setChecked(false);
    QCOMPARE(f.windowHeightTwips(), 3600);
    QCOMPARE(f.frame1HeightTwips(), 760);
    QVERIFY(!f.Text1->isVisibleTo(&f));
    QCOMPARE(f.Text1->text(), HexDump::text(first));

    // A load with the preview off leaves the (hidden) preview alone...
    const QByteArray second = ramp(70);
    h.load(h.file("two.bin", second));
    QCOMPARE(f.Text1->text(), HexDump::text(first));
    // ... and ticking the box shows the current image.
    f.Check2->setChecked(true);
    QCOMPARE(f.windowHeightTwips(), 6800);
    QCOMPARE(f.frame1HeightTwips(), 4000);
    QVERIFY(f.Text1->isVisibleTo(&f));
    QCOMPARE(f.Text1->text(), HexDump::text(second));
}

void TestImageLoad::everyClickSavesBeforeTheLayoutChanges()
{
    Harness h(false);
    Form1 &f = *h.form;
    h.load(h.file("s.bin", ramp(10)));
    QList<QByteArray> seen; // the settings file whenever Text1 is shown or hidden
    struct Watch : QObject {
        std::function<void()> onChange;
        bool eventFilter(QObject *, QEvent *e) override
        {
            if (e->type() == QEvent::ShowToParent || e->type() == QEvent::HideToParent)
                onChange();
            return false;
        }
    } watch;
    watch.onChange = [&] { seen << h.settingsFile(); };
    f.Text1->installEventFilter(&watch);
    for (bool on : {true, false, true, false}) {
        f.Check2->click();
        QCOMPARE(f.Check2->isChecked(), on);
        QCOMPARE(seen.size() > 0, true);
        QVERIFY2(seen.last().endsWith(on ? "YULAN1\r\n" : "YULAN0\r\n"), seen.last().constData());
        QCOMPARE(f.PREVIEW_BIN, on ? 1 : 0);
    }
    QCOMPARE(seen.size(), 4);
}

void TestImageLoad::fileDialogListsBinOfAnyCase()
{
    QTemporaryDir dir;
    const QStringList names{"fw.bin", "FW.BIN", "Mixed.Bin", "fw.hex", "notes.txt", "fw.bin.txt"};
    for (const QString &n : names) {
        QFile f(dir.filePath(n));
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("x");
    }
    QStringList listed;
    bool ran = false;
    QTimer::singleShot(0, this, [&] {
        auto *dialog = qobject_cast<QFileDialog *>(QApplication::activeModalWidget());
        QVERIFY(dialog);
        ran = true;
        // However this ends, the dialog is closed so that the test goes on.
        const std::unique_ptr<QFileDialog, void (*)(QFileDialog *)> closer(
            dialog, [](QFileDialog *d) { d->reject(); });
        QVERIFY(dialog->testOption(QFileDialog::DontUseNativeDialog));
        dialog->setDirectory(dir.path());
        auto *model = dialog->findChild<QFileSystemModel *>();
        QVERIFY(model);
        const QModelIndex root = model->index(dir.path());
        auto names = [&] {
            QStringList out;
            for (int r = 0; r < model->rowCount(root); ++r)
                out << model->index(r, 0, root).data().toString();
            out.sort();
            return out;
        };
        QTRY_COMPARE(names(), (QStringList{"FW.BIN", "Mixed.Bin", "fw.bin"}));
        listed = names();
    });
    QtDialogs dialogs;
    QCOMPARE(dialogs.getOpenFileName(nullptr, QStringLiteral("(*.BIN)|*.BIN")), QString());
    QVERIFY(ran);
    QCOMPARE(listed.size(), 3);
}

void TestImageLoad::tooLargeCopyIsExplained()
{
    Harness h(true);
    h.form->Text1_CopyRefused(344000138);
    QCOMPARE(h.fakes.dialogs.messages.size(), 1);
    QCOMPARE(h.fakes.dialogs.messages.first().title, QStringLiteral("提示信息!"));
    QCOMPARE(h.fakes.dialogs.messages.first().text,
             QStringLiteral("所选内容有344000138个字符，太大，无法复制；最多可复制33554432个字符，"
                            "请少选一些行后再复制！"));
}

QTEST_MAIN(TestImageLoad)
#include "tst_imageload.moc"
