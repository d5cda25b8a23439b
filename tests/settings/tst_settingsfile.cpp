#include "files.h"
#include "settingsfile.h"

#include <QtTest>

#include <sys/stat.h>

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
        QTest::addColumn<StoredSettings>("before");
        QTest::addColumn<StoredSettings>("after");
        const StoredSettings zero{}, some{1, 2, 1, 1};
        // clang-format off
        QTest::newRow("last character carries the value") << QByteArray("XZBTL 12\r\n") << zero << StoredSettings{2, 0, 0, 0};
        QTest::newRow("any order, last one wins") << QByteArray("RESET1\r\nXZBTL2\r\nXZBTL3\r\n") << zero << StoredSettings{3, 0, 1, 0};
        QTest::newRow("lower-case key ignored") << QByteArray("xzbtl4\r\nfwbtl3\r\n") << some << some;
        QTest::newRow("bare key keeps the field") << QByteArray("XZBTL\r\nRESETx\r\n") << some << some;
        QTest::newRow("no line end at the end") << QByteArray("FWBTL6") << zero << StoredSettings{0, 6, 0, 0};
        QTest::newRow("LF only") << QByteArray("XZBTL1\nFWBTL5\nYULAN1\n") << zero << StoredSettings{1, 5, 0, 1};
        QTest::newRow("CR only") << QByteArray("XZBTL1\rRESET1\r") << zero << StoredSettings{1, 0, 1, 0};
        QTest::newRow("binary noise") << bytes("\x00\xff\xfeXZBTL1\r\n\x1a\x00YULAN1\r\nRESET\x00\r\n") << zero << zero;
        QTest::newRow("binary noise on other lines") << bytes("\x00\xff\r\nXZBTL1\r\n\x1a\x00\r\nYULAN1") << zero << StoredSettings{1, 0, 0, 1};
        QTest::newRow("other content disappears") << QByteArray("# note\r\nFWBTL7\r\n") << zero << StoredSettings{0, 7, 0, 0};
        // clang-format on
    }

    void parse()
    {
        QFETCH(QByteArray, text);
        QFETCH(StoredSettings, before);
        QFETCH(StoredSettings, after);
        StoredSettings values = before;
        parseSettings(text, values);
        QCOMPARE(values, after);
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

        const StoredSettings next{0, 6, 1, 1}; // the second write replaces the first
        QCOMPARE(writeSettingsFile(path, StoredSettings::defaults()), written);
        QCOMPARE(writeSettingsFile(path, next), written);
        StoredSettings read{};
        QCOMPARE(readSettingsFile(path, read), written);
        if (written)
            QCOMPARE(read, next);
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
        StoredSettings read{};
        QElapsedTimer t;
        t.start();
        QVERIFY(readSettingsFile(path, read));
        QVERIFY(t.elapsed() < 1000);
        QCOMPARE(read, (StoredSettings{1, 0, 0, 0}));
    }
};

QTEST_GUILESS_MAIN(TestSettingsFile)
#include "tst_settingsfile.moc"
