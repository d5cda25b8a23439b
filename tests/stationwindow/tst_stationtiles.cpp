// What a socket's tile and the grid of tiles show, and the words in English.
#include "socketgrid.h"
#include "sockettile.h"
#include "stationtexts.h"

#include <QtTest>
#include <QtWidgets>

namespace
{

Socket socketOn(const QString &port, Socket::State state, int percent = 0)
{
    Socket s;
    s.port = port;
    s.device = "/dev/ttyUSB0";
    s.byId = "usb-Vantrel_Bench_0001-if00-port0";
    s.state = state;
    s.boardIn = state != Socket::State::Waiting;
    s.bytes = 2000;
    s.bytesSent = s.bytes * percent / 100;
    return s;
}

Socket ended(Socket s, Ending ending, int passed, int failed)
{
    s.ending = ending;
    s.ran = true;
    s.passed = passed;
    s.failed = failed;
    return s;
}

QString text(const SocketTile &tile, const char *name)
{
    const auto *label = tile.findChild<QLabel *>(name);
    return label && !label->isHidden() ? label->text() : QString();
}

// The colour as one would name it, achromatic ones grey.
QString colourName(const QColor &c)
{
    const int hue = c.hsvHue();
    if (hue < 0 || c.hsvSaturation() < 40)
        return "grey";
    return hue < 20 || hue > 340 ? "red" : hue < 70 ? "amber" : hue < 160 ? "green" : "blue";
}

// The contrast of white words on the colour (WCAG).
double contrastWithWhite(const QColor &c)
{
    auto linear = [](double v) {
        return v <= 0.03928 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
    };
    const double l =
        0.2126 * linear(c.redF()) + 0.7152 * linear(c.greenF()) + 0.0722 * linear(c.blueF());
    return 1.05 / (l + 0.05);
}

// The messages of a .ts file, "context|source|comment" -> the translation, or "" when unfinished.
QHash<QString, QString> messagesOf(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QHash<QString, QString> messages;
    QXmlStreamReader xml(&file);
    QString context, source, comment;
    while (!xml.atEnd()) {
        if (xml.readNext() != QXmlStreamReader::StartElement)
            continue;
        const QStringView name = xml.name();
        if (name == u"name")
            context = xml.readElementText();
        else if (name == u"message")
            source = comment = QString();
        else if (name == u"source")
            source = xml.readElementText();
        else if (name == u"comment")
            comment = xml.readElementText();
        else if (name == u"translation") {
            const bool unfinished = xml.attributes().value("type") == u"unfinished";
            const QString translation = xml.readElementText();
            messages.insert(context + '|' + source + '|' + comment,
                            unfinished ? QString() : translation);
        }
    }
    return xml.hasError() ? QHash<QString, QString>() : messages;
}

} // namespace

class TestStationTiles : public QObject
{
    Q_OBJECT
private slots:
    void tileShowsSocket_data();
    void tileShowsSocket();
    void totalsLine_data();
    void totalsLine();
    void gridFillsWidthInOrder_data();
    void gridFillsWidthInOrder();
    void englishLocale_data();
    void englishLocale();
    void englishWords();
    void everyTextTranslated();
};

void TestStationTiles::tileShowsSocket_data()
{
    QTest::addColumn<Socket>("socket");
    QTest::addColumn<QString>("state");  // the word, the detail beside it, the colour
    QTest::addColumn<int>("progress");   // -1: no bar
    QTest::addColumn<QString>("below");  // the last result and the counts
    QTest::addColumn<QString>("spoken"); // the accessible description

    using S = Socket::State;
    QTest::newRow("no board yet") << socketOn("COM3", S::Waiting) << "等待||grey" << -1
                                  << "|成功 0  失败 0"
                                  << "等待, 成功 0  失败 0";
    QTest::newRow("flashing") << ended(socketOn("COM3", S::Flashing, 42), Ending::Success, 2, 1)
                              << "下载中|42%|blue" << 42 << "|成功 2  失败 1"
                              << "下载中 42%, 成功 2  失败 1";
    QTest::newRow("flashing begins")
        << socketOn("COM3", S::Flashing, 0) << "下载中|0%|blue" << 0 << "|成功 0  失败 0"
        << "下载中 0%, 成功 0  失败 0";
    QTest::newRow("passed, board in") << ended(socketOn("COM3", S::Passed), Ending::Success, 1, 0)
                                      << "成功||green" << -1 << "|成功 1  失败 0"
                                      << "成功, 成功 1  失败 0";
    QTest::newRow("no answer") << ended(socketOn("COM3", S::Failed), Ending::NoAnswer, 0, 1)
                               << "失败|无应答|red" << -1 << "|成功 0  失败 1"
                               << "失败 无应答, 成功 0  失败 1";
    QTest::newRow("port gone mid-run")
        << ended(socketOn("COM3", S::Failed), Ending::PortVanished, 4, 2) << "失败|已断开|red" << -1
        << "|成功 4  失败 2"
        << "失败 已断开, 成功 4  失败 2";
    QTest::newRow("other failure") << ended(socketOn("COM3", S::Failed), Ending::Failure, 0, 1)
                                   << "失败|出错|red" << -1 << "|成功 0  失败 1"
                                   << "失败 出错, 成功 0  失败 1";
    QTest::newRow("pulled after a pass")
        << ended(socketOn("COM3", S::Waiting), Ending::Success, 5, 0) << "等待||grey" << -1
        << "上一块：成功|成功 5  失败 0"
        << "等待, 上一块：成功, 成功 5  失败 0";
    QTest::newRow("pulled after a failure")
        << ended(socketOn("COM3", S::Waiting), Ending::DownloadFailed, 5, 1) << "等待||grey" << -1
        << "上一块：失败|成功 5  失败 1"
        << "等待, 上一块：失败, 成功 5  失败 1";
    QTest::newRow("next board flashing")
        << ended(socketOn("COM3", S::Flashing, 100), Ending::NoCompletion, 0, 1)
        << "下载中|100%|blue" << 100 << "|成功 0  失败 1"
        << "下载中 100%, 成功 0  失败 1";
    Socket noLink = socketOn("COM3", S::Interrupted);
    noLink.byId.clear();
    QTest::newRow("stopped, no by-id link") << noLink << "中断||amber" << -1 << "|成功 0  失败 0"
                                            << "中断, 成功 0  失败 0";
}

void TestStationTiles::tileShowsSocket()
{
    QFETCH(Socket, socket);
    QFETCH(QString, state);
    QFETCH(int, progress);
    QFETCH(QString, below);
    QFETCH(QString, spoken);
    // A new tile, and one that showed a failure on another port before: the same sight.
    SocketTile fresh, reused;
    Socket before = ended(socketOn("COM9", Socket::State::Failed), Ending::NoAnswer, 7, 8);
    before.byId = "usb-Other-if00";
    reused.showSocket(socketOn("COM9", Socket::State::Flashing, 30));
    reused.showSocket(before);
    const QString tip = QStringList{socket.device, socket.byId}.join('\n').trimmed();
    for (SocketTile *tile : {&fresh, &reused}) {
        tile->showSocket(socket);
        QCOMPARE(text(*tile, "port"), "COM3");
        QCOMPARE(tile->accessibleName(), "COM3");
        QCOMPARE(tile->toolTip(), tip);
        const QColor colour = tile->findChild<QLabel *>("state")->palette().color(QPalette::Window);
        QCOMPARE(colour, tile->stateColor());
        QCOMPARE(QStringList({text(*tile, "state"), text(*tile, "detail"), colourName(colour)})
                     .join('|'),
                 state);
        QVERIFY2(contrastWithWhite(colour) >= 4.5, qPrintable(colour.name()));
        const auto *bar = tile->findChild<QProgressBar *>("progress");
        QCOMPARE(bar->isHidden() ? -1 : bar->value(), progress);
        QCOMPARE(text(*tile, "lastResult") + '|' + text(*tile, "counts"), below);
        QCOMPARE(tile->accessibleDescription(), spoken);
    }
}

void TestStationTiles::totalsLine_data()
{
    QTest::addColumn<StationTotals>("totals");
    QTest::addColumn<QString>("line");
    QTest::newRow("at the start") << StationTotals{}
                                  << "成功 0  失败 0  中断 0  每小时 0 块  运行 00:00:00";
    QTest::newRow("an hour and a bit") << StationTotals{3, 1, 2, 3'723'999}
                                       << "成功 3  失败 1  中断 2  每小时 3 块  运行 01:02:03";
    QTest::newRow("a busy half hour") << StationTotals{250, 0, 0, 1'800'000}
                                      << "成功 250  失败 0  中断 0  每小时 500 块  运行 00:30:00";
    QTest::newRow("past 99 hours") << StationTotals{0, 0, 0, 360'000'000}
                                   << "成功 0  失败 0  中断 0  每小时 0 块  运行 100:00:00";
}

void TestStationTiles::totalsLine()
{
    QFETCH(StationTotals, totals);
    QTEST(totalsText(totals), "line");
}

void TestStationTiles::gridFillsWidthInOrder_data()
{
    QTest::addColumn<int>("sockets");
    QTest::addColumn<int>("tilesWide"); // the width, in tiles at their narrowest
    QTest::addColumn<int>("columns");
    QTest::newRow("16 ports, wide") << 16 << 8 << 4;
    QTest::newRow("16 ports, narrow") << 16 << 3 << 3;
    QTest::newRow("16 ports, one tile wide") << 16 << 1 << 1;
    QTest::newRow("2 ports") << 2 << 8 << 2;
    QTest::newRow("36 ports, wide") << 36 << 9 << 6;
}

void TestStationTiles::gridFillsWidthInOrder()
{
    QFETCH(int, sockets);
    QFETCH(int, tilesWide);
    QFETCH(int, columns);
    SocketGrid grid;
    QList<Socket> shown{socketOn("COM1", Socket::State::Waiting)};
    grid.showSockets(shown);
    SocketTile *first = grid.tile(0);
    const int tileWidth = first->minimumSizeHint().width() + grid.layout()->spacing();
    const QMargins margins = grid.layout()->contentsMargins();
    grid.resize(tilesWide * tileWidth + margins.left() + margins.right(), 2000);
    grid.show();
    for (int i = 2; i <= sockets; ++i) { // sockets come one by one, as ports appear
        shown.append(socketOn(QString("COM%1").arg(i), Socket::State::Flashing, i));
        grid.showSockets(shown);
    }
    QCoreApplication::processEvents(); // tiles added to a shown grid show from the event loop
    grid.layout()->activate();
    QCOMPARE(grid.count(), sockets);
    QCOMPARE(grid.tile(0), first);
    QCOMPARE(grid.columns(), columns);
    for (int i = 0; i < sockets; ++i) {
        const QRect here = grid.tile(i)->geometry(), top = grid.tile(i % columns)->geometry();
        QCOMPARE(text(*grid.tile(i), "port"), shown[i].port);
        QCOMPARE(here.left(), top.left());
        QVERIFY(i < columns || here.top() > grid.tile(i - columns)->geometry().bottom());
        QVERIFY(i % columns == 0 || here.left() > grid.tile(i - 1)->geometry().right());
    }
}

void TestStationTiles::englishLocale_data()
{
    QTest::addColumn<QStringList>("languages");
    QTest::addColumn<bool>("english");
    QTest::newRow("en_US") << QLocale("en_US").uiLanguages() << true;
    QTest::newRow("en_GB") << QLocale("en_GB").uiLanguages() << true;
    QTest::newRow("zh_CN") << QLocale("zh_CN").uiLanguages() << false;
    QTest::newRow("zh_TW") << QLocale("zh_TW").uiLanguages() << false;
    QTest::newRow("C") << QLocale::c().uiLanguages() << false;
    QTest::newRow("German only") << QStringList{"de-DE", "de"} << false;
    QTest::newRow("German, then English") << QStringList{"de-DE", "en"} << true;
    QTest::newRow("Chinese, then English") << QStringList{"zh-CN", "en-US"} << false;
    QTest::newRow("nothing") << QStringList{} << false;
}

void TestStationTiles::englishLocale()
{
    QFETCH(QStringList, languages);
    QTEST(prefersEnglish(languages), "english");
}

void TestStationTiles::englishWords()
{
    SocketTile tile;
    tile.showSocket(ended(socketOn("COM3", Socket::State::Failed), Ending::NoAnswer, 1, 2));
    QVERIFY(installStationTranslation(*qApp, QLocale("en_US")));
    QCoreApplication::processEvents(); // the language change reaches the tile
    tile.showSocket(ended(socketOn("COM3", Socket::State::Failed), Ending::NoAnswer, 1, 2));
    QCOMPARE(tile.accessibleDescription(), "Failed No answer, Passed 1  Failed 2");
    tile.showSocket(ended(socketOn("COM3", Socket::State::Waiting), Ending::Success, 2, 2));
    QCOMPARE(text(tile, "state") + '|' + text(tile, "lastResult"), "Waiting|Last board: passed");
    QCOMPARE(totalsText(StationTotals{3, 1, 2, 1'800'000}),
             "Passed 3  Failed 1  Interrupted 2  6 boards/hour  Running 00:30:00");
    // Chinese again, also when installed twice over.
    QVERIFY(installStationTranslation(*qApp, QLocale("en_GB")));
    QVERIFY(!installStationTranslation(*qApp, QLocale("zh_CN")));
    QCoreApplication::processEvents();
    tile.showSocket(ended(socketOn("COM3", Socket::State::Failed), Ending::NoAnswer, 1, 2));
    QCOMPARE(tile.accessibleDescription(), "失败 无应答, 成功 1  失败 2");
}

// Every text of the window's sources, as lupdate finds it now, has its English in the .ts.
void TestStationTiles::everyTextTranslated()
{
    QTemporaryDir dir;
    QProcess lupdate;
    lupdate.start(LUPDATE_PATH, {"-silent", "-no-obsolete", "-locations", "none", "-extensions",
                                 "h,cpp", STATIONWINDOW_DIR, "-ts", dir.filePath("now_en.ts")});
    QVERIFY(lupdate.waitForFinished(30'000));
    QCOMPARE(lupdate.exitCode(), 0);
    const QHash<QString, QString> now = messagesOf(dir.filePath("now_en.ts"));
    const QHash<QString, QString> committed =
        messagesOf(STATIONWINDOW_DIR "/translations/vantrel-station_en.ts");
    QVERIFY(now.size() >= 17);
    for (auto it = now.cbegin(); it != now.cend(); ++it)
        QVERIFY2(!committed.value(it.key()).trimmed().isEmpty(), qPrintable(it.key()));
}

QTEST_MAIN(TestStationTiles)
#include "tst_stationtiles.moc"
