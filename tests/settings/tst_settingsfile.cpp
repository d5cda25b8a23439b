#include "files.h"
#include "settingsfile.h"

#include <QtTest>

#include <sys/stat.h>

Q_DECLARE_METATYPE(SettingsDigits)
Q_DECLARE_METATYPE(StoredSettings)

namespace
{
// The whole literal, embedded NUL bytes included.
template <std::size_t N> QByteArray bytes(const char (&s)[N])
{
    return QByteArray(s, qsizetype(N - 1));
}
} // namespace

class TestSettingsFile : public QObject
{
    Q_OBJECT
private slots:
    void parse_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<SettingsDigits>("before");
        QTest::addColumn<SettingsDigits>("after");
        const SettingsDigits zero{}, some{1, 2, 1, 1};
        // clang-format off
        QTest::newRow("last character carries the value") << QByteArray("XZBTL 12\r\n") << zero << SettingsDigits{2, 0, 0, 0};
        QTest::newRow("any order, last one wins") << QByteArray("RESET1\r\nXZBTL2\r\nXZBTL3\r\n") << zero << SettingsDigits{3, 0, 1, 0};
        QTest::newRow("lower-case key ignored") << QByteArray("xzbtl4\r\nfwbtl3\r\n") << some << some;
        QTest::newRow("bare key keeps the field") << QByteArray("XZBTL\r\nRESETx\r\n") << some << some;
        QTest::newRow("no line end at the end") << QByteArray("FWBTL6") << zero << SettingsDigits{0, 6, 0, 0};
        QTest::newRow("LF only") << QByteArray("XZBTL1\nFWBTL5\nYULAN1\n") << zero << SettingsDigits{1, 5, 0, 1};
        QTest::newRow("CR only") << QByteArray("XZBTL1\rRESET1\r") << zero << SettingsDigits{1, 0, 1, 0};
        QTest::newRow("binary noise") << bytes("\x00\xff\xfeXZBTL1\r\n\x1a\x00YULAN1\r\nRESET\x00\r\n") << zero << zero;
        QTest::newRow("binary noise on other lines") << bytes("\x00\xff\r\nXZBTL1\r\n\x1a\x00\r\nYULAN1") << zero << SettingsDigits{1, 0, 0, 1};
        QTest::newRow("other content disappears") << QByteArray("# note\r\nFWBTL7\r\n") << zero << SettingsDigits{0, 7, 0, 0};
        // clang-format on
    }

    void parse()
    {
        QFETCH(QByteArray, text);
        QFETCH(SettingsDigits, before);
        QFETCH(SettingsDigits, after);
        SettingsDigits digits = before;
        parseSettings(text, digits);
        QCOMPARE(digits, after);
    }

    // Each digit its control cannot take falls back to that choice's default, the others stay.
    void applicable_data()
    {
        QTest::addColumn<SettingsDigits>("digits");
        QTest::addColumn<StoredSettings>("applied");
        const StoredSettings defaults = StoredSettings::defaults();
        // clang-format off
        QTest::newRow("all zero") << SettingsDigits{} << StoredSettings{};
        QTest::newRow("last items, both on") << SettingsDigits{4, 7, 1, 1} << StoredSettings{4, 7, true, true};
        QTest::newRow("one past the lists") << SettingsDigits{5, 8, 0, 0} << StoredSettings{4, 3, false, false};
        QTest::newRow("2 for a check box") << SettingsDigits{1, 1, 2, 2} << StoredSettings{1, 1, false, false};
        QTest::newRow("9 everywhere") << SettingsDigits{9, 9, 9, 9} << defaults;
        // clang-format on
    }

    void applicable()
    {
        QFETCH(SettingsDigits, digits);
        QTEST(applicableSettings(digits), "applied");
    }

    void onlyRegularFilesAreWritten_data()
    {
        // "": no link; "@" in it stands for the temporary folder
        QTest::addColumn<QString>("linkTo");
        QTest::addColumn<bool>("written");
        QTest::newRow("no file yet") << "" << true;
        QTest::newRow("link to a regular file") << "@/real" << true;
        QTest::newRow("dangling link") << "@/absent" << true;
        QTest::newRow("link to /dev/null") << "/dev/null" << false;
        QTest::newRow("link to a folder") << "@" << false;
        QTest::newRow("link to a pipe") << "@/fifo" << false;
    }

    void onlyRegularFilesAreWritten()
    {
        QFETCH(QString, linkTo);
        QFETCH(bool, written);
        QTemporaryDir dir;
        const QString path = dir.filePath("VANTREL_SET.SB");
        writeBytes(dir.filePath("real"), "x");
        QVERIFY(mkfifo(QFile::encodeName(dir.filePath("fifo")).constData(), 0600) == 0);
        linkTo.replace('@', dir.path());
        if (!linkTo.isEmpty())
            QVERIFY(QFile::link(linkTo, path));
        const QFileInfo before(linkTo.isEmpty() ? path : linkTo);

        const StoredSettings next{0, 6, true, true}; // the second write replaces the first
        QCOMPARE(writeSettingsFile(path, StoredSettings::defaults()), written);
        QCOMPARE(writeSettingsFile(path, next), written);
        SettingsDigits read{};
        QCOMPARE(readSettingsFile(path, read), written);
        if (written)
            QCOMPARE(applicableSettings(read), next);
        QStringList left{"VANTREL_SET.SB", "fifo", "real"}; // no temporary file stays behind
        if (linkTo.endsWith("absent"))
            left.insert(1, "absent");
        const auto all = QDir::AllEntries | QDir::System | QDir::Hidden | QDir::NoDotAndDotDot;
        QCOMPARE(QDir(dir.path()).entryList(all, QDir::Name), left);
        if (!linkTo.isEmpty()) {
            QVERIFY(QFileInfo(path).isSymLink()); // the link stays a link
            if (!written)                         // the target keeps its kind
                QCOMPARE(QFileInfo(linkTo).isFile(), before.isFile());
        }
    }

    void readsOnlyTheFirst64KiB()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath("VANTREL_SET.SB");
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        // A line the limit cuts and the lines after it are not read; a sparse tail is not waited
        // for.
        QByteArray text = "XZBTL1\r\n" + QByteArray(settingsReadLimit - 16, ' ') + "\r\nYULAN1\r\n";
        QVERIFY(f.write(text) == text.size() && f.write("RESET1\r\n") > 0);
        QVERIFY(f.resize(qint64(2) << 30));
        f.close();
        SettingsDigits read{};
        QElapsedTimer t;
        t.start();
        QVERIFY(readSettingsFile(path, read));
        QVERIFY(t.elapsed() < 1000);
        QCOMPARE(read, (SettingsDigits{1, 0, 0, 0}));
    }
};

QTEST_GUILESS_MAIN(TestSettingsFile)
#include "tst_settingsfile.moc"
