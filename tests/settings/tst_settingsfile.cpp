// The settings file on disk: only a regular file (or a link to one) is written, whole, and only
// its first 64 KiB are read. (How its text reads and what the window makes of it: tst_mainwindow's
// startUp table.)
#include "files.h"
#include "settingsfile.h"

#include <QtTest>

#include <sys/stat.h>

class TestSettingsFile : public QObject
{
    Q_OBJECT
private slots:
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
