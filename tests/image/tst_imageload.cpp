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

// One started window with fake platform services and a fresh config folder.
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
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }
    QString file(const QString &name, const QByteArray &bytes)
    {
        QFile f(home.filePath(name));
        f.open(QIODevice::WriteOnly);
        f.write(bytes);
        return f.fileName();
    }
    void load(const QString &path) // a click on "加载Bin文件", the dialog answering path
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
    void initTestCase() { installFontSubstitutions(); }
    void loadShowsTheFacts_data();
    void loadShowsTheFacts();
    void cancelKeepsEverything();
    void secondLoadReplacesEverything();
    void refusedFileKeepsTheImage_data();
    void refusedFileKeepsTheImage();
    void previewBuild_data();
    void previewBuild();
    void checkBoxKeepsTextAndSavesFirst();
    void fileDialogListsBinOfAnyCase();
    void tooLargeCopyIsExplained();
};

void TestImageLoad::loadShowsTheFacts_data()
{
    QTest::addColumn<int>("length");
    QTest::addColumn<bool>("preview");
    QTest::addColumn<QString>("kB");
    QTest::newRow("1536, preview off") << 1536 << false << "1.5kB";
    QTest::newRow("1024, preview on") << 1024 << true << "1kB";
    QTest::newRow("256, preview on") << 256 << true << "0.2kB";
}

void TestImageLoad::loadShowsTheFacts()
{
    QFETCH(int, length);
    QFETCH(bool, preview);
    QFETCH(QString, kB);
    Harness h(preview);
    Form1 &f = *h.form;
    f.Label8->setText(QStringLiteral("下载进度：42%"));
    f.Shape2->setWidthTwips(3000);
    const int beeps = h.fakes.tone.beeps.size();
    h.fakes.dialogs.onFileDialog = [&] { // beep, then the progress display emptied, then this
        QCOMPARE(h.fakes.tone.beeps.size(), beeps + 1);
        QCOMPARE(f.Label8->text(), QString());
        QCOMPARE(f.Shape2->widthTwips(), 0.0);
    };
    const QByteArray data = ramp(length);
    const QString path = h.file("Fw 主板.bin", data);
    h.load(path);
    h.fakes.dialogs.onFileDialog = nullptr;
    QCOMPARE(h.fakes.dialogs.lastFilter, QStringLiteral("(*.BIN)|*.BIN"));
    QCOMPARE(h.labels(), (QStringList{QString::number(length), kB, "Fw 主板.bin"}));
    QCOMPARE(f.image.BIN_PATH, path);
    QCOMPARE(f.image.BIN_DATA, data);
    QCOMPARE(f.image.BIN_LEN, length);
    QVERIFY(f.Command1->isEnabled() && f.Command3->isEnabled());
    QCOMPARE(f.Text1->text(), preview ? HexDump::text(data) : HexDump::header());
    QCOMPARE(f.windowHeightTwips(), preview ? 6800 : 3600);

    // A name with no folder is shown whole.
    const QString cwd = QDir::currentPath();
    QDir::setCurrent(h.home.path());
    h.load(QStringLiteral("Fw 主板.bin"));
    QDir::setCurrent(cwd);
    QCOMPARE(f.Label3->text(), QStringLiteral("Fw 主板.bin"));
    QVERIFY(h.fakes.dialogs.messages.isEmpty());
}

void TestImageLoad::cancelKeepsEverything()
{
    Harness h(true);
    Form1 &f = *h.form;
    const QByteArray data = ramp(100);
    h.load(h.file("keep.bin", data));
    const QStringList labels = h.labels();
    f.Label8->setText(QStringLiteral("       下载成功"));
    h.load(QString());
    QCOMPARE(f.Label8->text(), QString());
    QCOMPARE(f.image.BIN_PATH, QString());
    QCOMPARE(f.image.BIN_DATA, data);
    QCOMPARE(f.image.BIN_LEN, 100);
    QCOMPARE(h.labels(), labels);
    QVERIFY(f.Command1->isEnabled() && f.Command3->isEnabled());
    QCOMPARE(f.Text1->text(), HexDump::text(data));
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
    QCOMPARE(f.image.BIN_DATA, second);
    QCOMPARE(f.image.BIN_LEN, 20);
    QCOMPARE(f.Text1->text(), HexDump::text(second));
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
    if (imageBefore)
        h.load(h.file("good.bin", data));
    else
        f.ALL_KEY(true); // as after a preview build: the download buttons are enabled
    const QStringList labels = h.labels();
    const QString preview = f.Text1->text();

    const QString path = h.home.filePath(kind + ".bin");
    if (kind == "folder")
        QDir().mkpath(path);
    else if (kind == "empty")
        h.file(kind + ".bin", QByteArray());
    else if (kind == "64 MiB")
        QVERIFY(QFile(path).open(QIODevice::WriteOnly) && QFile(path).resize(67108864));
    else if (kind == "pipe")
        QVERIFY(::mkfifo(QFile::encodeName(path).constData(), 0600) == 0);
    h.load(path);

    QCOMPARE(f.image.BIN_DATA, imageBefore ? data : QByteArray());
    QCOMPARE(f.image.BIN_LEN, imageBefore ? 33 : 0);
    QCOMPARE(h.labels(), labels);
    QCOMPARE(f.Command1->isEnabled(), imageBefore);
    QCOMPARE(f.Command3->isEnabled(), imageBefore);
    QCOMPARE(f.Text1->text(), preview);
    QCOMPARE(h.fakes.dialogs.messages.size(), 1);
    const auto message = h.fakes.dialogs.messages.first();
    QCOMPARE(message.title, QStringLiteral("提示信息!"));
    QVERIFY2(message.text.contains(path) && message.text.contains(says), qPrintable(message.text));
    QCOMPARE(message.text.contains(QStringLiteral("保持不变")), imageBefore);
}

void TestImageLoad::previewBuild_data()
{
    QTest::addColumn<int>("length");
    QTest::addColumn<int>("delays"); // delay_ms(1) after rows 0, 2000, 4000 ...
    QTest::newRow("nothing loaded: 1 row") << 0 << 1;
    QTest::newRow("2000 rows") << 32000 << 1;
    QTest::newRow("2001 rows") << 32001 << 2;
    QTest::newRow("4000 rows") << 64000 << 2;
    QTest::newRow("4001 rows") << 64001 << 3;
}

void TestImageLoad::previewBuild()
{
    QFETCH(int, length);
    QFETCH(int, delays);
    Harness h(false);
    Form1 &f = *h.form;
    const QByteArray data(length, 'r');
    if (length > 0)
        h.load(h.file("rows.bin", data));
    f.Label1->setText(QStringLiteral("连接失败"));
    const QString before = f.Text1->text();
    const int waits = h.fakes.pump.waits;
    bool checked = false;
    h.fakes.pump.hook = [&] {
        if (std::exchange(checked, true))
            return;
        // At the first pump: panel up, controls locked, the old text still shown.
        QVERIFY(f.Frame4->isVisibleTo(&f));
        QCOMPARE(f.frame4TopTwips(), 1800);
        QCOMPARE(f.Label1->text(), QStringLiteral("正在加载BIN文件信息"));
        QCOMPARE(f.Label7->text(), QStringLiteral("    请稍等……"));
        for (QWidget *w : h.lockable())
            QVERIFY(!w->isEnabled());
        QCOMPARE(f.Text1->text(), before);
    };
    f.Check2->setChecked(true);
    h.fakes.pump.hook = nullptr;
    QVERIFY(checked);
    QCOMPARE(h.fakes.pump.waits - waits, delays);
    QVERIFY(!f.Frame4->isVisibleTo(&f));
    for (QWidget *w : h.lockable())
        QVERIFY(w->isEnabled()); // all nine, download buttons included even with no image
    QCOMPARE(f.Text1->text(), HexDump::text(data));
}

void TestImageLoad::checkBoxKeepsTextAndSavesFirst()
{
    Harness h(true);
    Form1 &f = *h.form;
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

    const QByteArray first = ramp(50), second = ramp(70);
    h.load(h.file("one.bin", first));
    f.Check2->click();
    QCOMPARE(seen.value(0).right(8), QByteArray("YULAN0\r\n"));
    QCOMPARE(f.windowHeightTwips(), 3600);
    QCOMPARE(f.frame1HeightTwips(), 760);
    QCOMPARE(f.Text1->text(), HexDump::text(first)); // hidden, not cleared
    h.load(h.file("two.bin", second));
    QCOMPARE(f.Text1->text(), HexDump::text(first)); // not rebuilt with the preview off
    f.Check2->click();
    QCOMPARE(seen.value(1).right(8), QByteArray("YULAN1\r\n"));
    QCOMPARE(f.windowHeightTwips(), 6800);
    QCOMPARE(f.frame1HeightTwips(), 4000);
    QCOMPARE(f.Text1->text(), HexDump::text(second));
    QCOMPARE(seen.size(), 2);
}

void TestImageLoad::fileDialogListsBinOfAnyCase()
{
    QTemporaryDir dir;
    for (const char *n : {"fw.bin", "FW.BIN", "Mixed.Bin", "fw.hex", "notes.txt", "fw.bin.txt"})
        QVERIFY(QFile(dir.filePath(n)).open(QIODevice::WriteOnly));
    bool listed = false;
    QTimer::singleShot(0, this, [&] {
        auto *dialog = qobject_cast<QFileDialog *>(QApplication::activeModalWidget());
        QVERIFY(dialog);
        const std::unique_ptr<QFileDialog, void (*)(QFileDialog *)> closer(
            dialog, [](QFileDialog *d) { d->reject(); }); // closed however this ends
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
        listed = true;
    });
    QtDialogs dialogs;
    QCOMPARE(dialogs.getOpenFileName(nullptr, QStringLiteral("(*.BIN)|*.BIN")), QString());
    QVERIFY(listed);
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
