// The files `cmake --install` puts next to the program for the desktop: the entry, the hicolor
// icons and the AppStream metainfo, checked as installed into a temporary prefix.
#include "icon.h"
#include "processrun.h"

#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <QPainter>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QXmlStreamReader>
#include <QtTest>

namespace
{

// The [Desktop Entry] group of a desktop file, key (with its [locale]) to value.
QMap<QString, QString> desktopEntry(const QString &path)
{
    QMap<QString, QString> keys;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return keys;
    bool inGroup = false;
    for (const QByteArray &raw : file.readAll().split('\n')) {
        const QString line = QString::fromUtf8(raw).trimmed();
        if (line.startsWith(QLatin1Char('['))) {
            inGroup = line == QLatin1String("[Desktop Entry]");
            continue;
        }
        const qsizetype eq = line.indexOf(QLatin1Char('='));
        if (inGroup && eq > 0 && !line.startsWith(QLatin1Char('#')))
            keys.insert(line.left(eq).trimmed(), line.mid(eq + 1).trimmed());
    }
    return keys;
}

bool hasHan(const QString &text)
{
    return text.contains(QRegularExpression(QStringLiteral("[\\x{4E00}-\\x{9FFF}]")));
}

} // namespace

class TestDesktopEntry : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void validators_data();
    void validators();
    void entryKeys_data();
    void entryKeys();
    void entryHasChineseTexts_data();
    void entryHasChineseTexts();
    void entryStartsTheInstalledProgram();
    void metainfoNamesTheInstalledFiles();
    void pngIcons_data();
    void pngIcons();
    void scalableIconMatchesTheDrawing();

private:
    QString path(const QString &relative) const { return m_prefix.filePath(relative); }
    QString desktopFile() const
    {
        return path(QStringLiteral("share/applications/" VANTREL_DESKTOP_ID ".desktop"));
    }
    QString metainfoFile() const
    {
        return path(QStringLiteral("share/metainfo/" VANTREL_APPSTREAM_ID ".metainfo.xml"));
    }

    QTemporaryDir m_prefix;
    QMap<QString, QString> m_entry;
};

void TestDesktopEntry::initTestCase()
{
    QVERIFY(m_prefix.isValid());
    const ToolRun install =
        runTool(QStringLiteral(VANTREL_CMAKE),
                {QStringLiteral("--install"), QStringLiteral(VANTREL_BINARY_DIR),
                 QStringLiteral("--prefix"), m_prefix.path()},
                120000);
    QVERIFY2(install.ok, install.report());
    m_entry = desktopEntry(desktopFile());
    QVERIFY2(!m_entry.isEmpty(), qPrintable(desktopFile()));
}

void TestDesktopEntry::validators_data()
{
    QTest::addColumn<QString>("tool");
    QTest::addColumn<QByteArray>("package");
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QString>("file");
    QTest::newRow("desktop entry")
        << QStringLiteral("desktop-file-validate") << QByteArray("desktop-file-utils")
        << QStringList() << desktopFile();
    QTest::newRow("metainfo") << QStringLiteral("appstreamcli") << QByteArray("appstream")
                              << QStringList{QStringLiteral("validate"), QStringLiteral("--no-net")}
                              << metainfoFile();
}

void TestDesktopEntry::validators()
{
    QFETCH(QString, tool);
    QFETCH(QByteArray, package);
    QFETCH(QStringList, args);
    QFETCH(QString, file);
    QByteArray why;
    const QString program = requireTool(tool, package.constData(), &why);
    QVERIFY2(!program.isEmpty(), why);
    const ToolRun run = runTool(program, args << file);
    QVERIFY2(run.ok, run.report());
    // desktop-file-validate reports hints on stdout with a zero exit code: none are allowed.
    if (tool == QLatin1String("desktop-file-validate"))
        QVERIFY2(run.out.trimmed().isEmpty(), run.report());
}

void TestDesktopEntry::entryKeys_data()
{
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("value");
    QTest::newRow("type") << "Type"
                          << "Application";
    QTest::newRow("name") << "Name"
                          << "Vantrel";
    QTest::newRow("icon") << "Icon" << VANTREL_DESKTOP_ID;
    QTest::newRow("no terminal") << "Terminal"
                                 << "false";
    QTest::newRow("categories") << "Categories"
                                << "Development;Electronics;";
    // Qt names the X11 window class after the application: docks match windows to it.
    QTest::newRow("window class") << "StartupWMClass" << VANTREL_DESKTOP_ID;
}

void TestDesktopEntry::entryKeys()
{
    QFETCH(QString, key);
    QFETCH(QString, value);
    QCOMPARE(m_entry.value(key), value);
}

void TestDesktopEntry::entryHasChineseTexts_data()
{
    QTest::addColumn<QString>("key");
    QTest::newRow("generic name") << "GenericName";
    QTest::newRow("comment") << "Comment";
}

void TestDesktopEntry::entryHasChineseTexts()
{
    QFETCH(QString, key);
    const QString chinese = m_entry.value(key + QLatin1String("[zh_CN]"));
    QVERIFY2(hasHan(chinese), qPrintable(key + QLatin1String("[zh_CN]: ") + chinese));
    QVERIFY(!m_entry.value(key).isEmpty());
}

void TestDesktopEntry::entryStartsTheInstalledProgram()
{
    // Exec names the installed program (by name: the launcher finds it on PATH), with no
    // arguments, since the program has no command line.
    const QString exec = m_entry.value(QStringLiteral("Exec"));
    QVERIFY2(!exec.contains(QLatin1Char(' ')) && !exec.contains(QLatin1Char('/')),
             qPrintable(exec));
    const QFileInfo program(path(QStringLiteral("bin/") + exec));
    QVERIFY2(program.isFile() && program.isExecutable(), qPrintable(program.filePath()));
#ifdef VANTREL_HAS_VBOARD
    QVERIFY(QFileInfo(path(QStringLiteral("bin/vantrel-vboard"))).isExecutable());
#endif
}

void TestDesktopEntry::metainfoNamesTheInstalledFiles()
{
    QFile file(metainfoFile());
    QVERIFY2(file.open(QIODevice::ReadOnly), qPrintable(metainfoFile()));
    QXmlStreamReader xml(&file);
    QString id, name, launchable, binary;
    while (!xml.atEnd()) {
        if (xml.readNext() != QXmlStreamReader::StartElement)
            continue;
        const bool untranslated = xml.attributes().value(QLatin1String("xml:lang")).isEmpty();
        if (xml.name() == QLatin1String("id"))
            id = xml.readElementText();
        else if (xml.name() == QLatin1String("name") && untranslated)
            name = xml.readElementText();
        else if (xml.name() == QLatin1String("launchable"))
            launchable = xml.readElementText();
        else if (xml.name() == QLatin1String("binary"))
            binary = xml.readElementText();
    }
    QVERIFY2(!xml.hasError(), qPrintable(xml.errorString()));
    // Software centres find the file by its component id.
    QCOMPARE(id + QLatin1String(".metainfo.xml"), QFileInfo(metainfoFile()).fileName());
    QCOMPARE(name, m_entry.value(QStringLiteral("Name")));
    QCOMPARE(launchable, QFileInfo(desktopFile()).fileName());
    QCOMPARE(binary, m_entry.value(QStringLiteral("Exec")));
}

void TestDesktopEntry::pngIcons_data()
{
    QTest::addColumn<int>("size");
    for (int size : iconSizes())
        QTest::addRow("%dx%d", size, size) << size;
}

void TestDesktopEntry::pngIcons()
{
    QFETCH(int, size);
    const QString file = path(
        QStringLiteral("share/icons/hicolor/%1x%1/apps/%2.png").arg(size).arg(m_entry["Icon"]));
    QImage icon(file);
    QVERIFY2(!icon.isNull(), qPrintable(file));
    QCOMPARE(icon.size(), QSize(size, size));
    QVERIFY(icon.hasAlphaChannel());
    icon = icon.convertToFormat(QImage::Format_ARGB32);

    // The canvas corners are see-through; wherever the icon is opaque it is the program's own
    // drawing at that size, pixel for pixel.
    for (const QPoint corner :
         {QPoint(0, 0), QPoint(size - 1, 0), QPoint(0, size - 1), QPoint(size - 1, size - 1)})
        QCOMPARE(qAlpha(icon.pixel(corner)), 0);
    const QImage drawn = vantrelIconImage(size).convertToFormat(QImage::Format_RGB32);
    int opaque = 0;
    for (int y = 0; y < size; ++y) {
        for (int x = 0; x < size; ++x) {
            const QRgb p = icon.pixel(x, y);
            if (qAlpha(p) != 255)
                continue;
            ++opaque;
            if ((p & 0xFFFFFF) != (drawn.pixel(x, y) & 0xFFFFFF))
                QFAIL(qPrintable(QStringLiteral("pixel %1,%2 is %3, drawn %4")
                                     .arg(x)
                                     .arg(y)
                                     .arg(p, 8, 16)
                                     .arg(drawn.pixel(x, y), 8, 16)));
        }
    }
    // The backdrop covers (224 / 240)^2 of the canvas, less its rounded corners and edges.
    QVERIFY2(opaque > size * size / 2, qPrintable(QString::number(opaque)));
}

void TestDesktopEntry::scalableIconMatchesTheDrawing()
{
    const QString file =
        path(QStringLiteral("share/icons/hicolor/scalable/apps/%1.svg").arg(m_entry["Icon"]));
    QImageReader reader(file);
    reader.setScaledSize(QSize(240, 240));
    const QImage svg = reader.read();
    QVERIFY2(!svg.isNull(), qPrintable(file + QLatin1String(": ") + reader.errorString()));

    // Laid on the drawing's white canvas, the scalable icon must look like the drawing: only
    // anti-aliased edge pixels may differ, and only a little.
    QImage onWhite(240, 240, QImage::Format_RGB32);
    onWhite.fill(Qt::white);
    QPainter(&onWhite).drawImage(0, 0, svg);
    const QImage drawn = vantrelIconImage(240).convertToFormat(QImage::Format_RGB32);
    int differing = 0;
    for (int y = 0; y < 240; ++y) {
        for (int x = 0; x < 240; ++x) {
            const QRgb a = onWhite.pixel(x, y), b = drawn.pixel(x, y);
            const int d = qMax(qAbs(qRed(a) - qRed(b)),
                               qMax(qAbs(qGreen(a) - qGreen(b)), qAbs(qBlue(a) - qBlue(b))));
            if (d > 24)
                ++differing;
        }
    }
    QVERIFY2(differing < 40, qPrintable(QString::number(differing) + " pixels differ"));
}

QTEST_MAIN(TestDesktopEntry)
#include "tst_desktopentry.moc"
