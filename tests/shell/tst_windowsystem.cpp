// The window as the system sees it: a notice box's title on X, and the end a signal asks for.
#include "application.h"
#include "notices.h"
#include "ptypeer.h"
#include "qtdialogs.h"
#include "xvfb.h"

#include <QApplication>
#include <QMessageBox>
#include <QtTest>

#include <csignal>
#include <sys/stat.h>

class TestWindowSystem : public QObject
{
    Q_OBJECT
private slots:
    void noticeTitleIsExact()
    {
        if (qgetenv("QT_QPA_PLATFORM") != "xcb")
            QSKIP("needs Xvfb and xprop (packages xvfb, x11-utils)");
        QByteArray said;
        QTimer::singleShot(300, [&] {
            auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
            if (!box)
                return;
            QProcess xprop;
            xprop.start("xprop", {"-id", QString::number(box->winId()), "-notype", "_NET_WM_NAME",
                                  "WM_NAME"});
            xprop.waitForFinished(10000);
            said = xprop.readAllStandardOutput();
            box->accept();
        });
        QtDialogs().information(nullptr, Notices::title, QStringLiteral("COM3"));
        QCOMPARE(QString::fromUtf8(said),
                 QStringLiteral("_NET_WM_NAME = \"提示信息!\"\nWM_NAME = \"提示信息!\"\n"));
    }

    void signalsEndTheProgram_data()
    {
        QTest::addColumn<int>("signalNumber");
        QTest::newRow("SIGTERM") << int(SIGTERM);
        QTest::newRow("SIGHUP") << int(SIGHUP);
        QTest::newRow("SIGINT") << int(SIGINT);
    }

    // The program ends through its window's close (which closes the port and drops its lock) and
    // says which signal it was, rather than being killed by it.
    void signalsEndTheProgram()
    {
        QFETCH(int, signalNumber);
        QTemporaryDir home;
        QCOMPARE(upThenSignal(home.path(), signalNumber), 128 + signalNumber);
    }

    void strayLockEntries_data()
    {
        QTest::addColumn<QString>("name");      // %1: the terminal's number
        QTest::addColumn<bool>("fifo");         // else a folder
        QTest::addColumn<bool>("systemFolder"); // the system's lock folder, private to the run
        QTest::newRow("FIFO, Qt's name") << "LCK..pts_%1" << true << false;
        QTest::newRow("FIFO, UUCP name") << "LCK..%1" << true << false;
        QTest::newRow("folder") << "LCK..pts_%1" << false << false;
        QTest::newRow("FIFO in the system's folder") << "LCK..pts_%1" << true << true;
    }

    // Something other than a lock file where a listed port's lock would be: the program is up,
    // ends on SIGTERM as ever and leaves the entry alone.
    void strayLockEntries()
    {
        QFETCH(QString, name);
        QFETCH(bool, systemFolder);
        if (systemFolder &&
            QProcess::execute("unshare", {"-m", "mount", "--bind", "/tmp", "/run/lock"}))
            QSKIP("needs unshare(1) and the right to mount in a namespace of its own");
        QTemporaryDir home;
        PtyPeer peer;
        peer.linkAs(home.path() + "/vantrel/ports", 3);
        const QString locks = home.path() + "/locks";
        QVERIFY(QDir().mkpath(locks));
        const QString entry = locks + '/' + name.arg(QFileInfo(peer.slavePath()).fileName());
        QFETCH(bool, fifo);
        if (fifo)
            QCOMPARE(::mkfifo(QFile::encodeName(entry).constData(), 0644), 0);
        else
            QVERIFY(QDir().mkpath(entry));
        QCOMPARE(upThenSignal(home.path(), SIGTERM, locks, systemFolder), 128 + SIGTERM);
        QVERIFY(QFileInfo::exists(entry));
    }

private:
    // Starts the window (its lock folder `locks`, bound over the system's when `systemFolder`),
    // waits until it is up and sends it `signalNumber`; its exit status, -1 when not its own.
    static int upThenSignal(const QString &home, int signalNumber, const QString &locks = {},
                            bool systemFolder = false)
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("XDG_CONFIG_HOME", home);
        env.insert("QT_QPA_PLATFORM", "offscreen");
        if (!locks.isEmpty())
            env.insert("VANTREL_LOCK_DIR", locks);
        QProcess program;
        program.setProcessEnvironment(env);
        if (systemFolder) // where Qt's serial port keeps its own lock file
            program.start("unshare",
                          {"-m", "sh", "-c", R"(mount --bind "$1" /run/lock && exec "$2")", "sh",
                           locks, VANTREL_PATH});
        else
            program.start(VANTREL_PATH, QStringList());
        // The settings file is written during start-up; the window is up soon after.
        if (!program.waitForStarted() ||
            !QTest::qWaitFor([&] { return QFile::exists(home + "/vantrel/VANTREL_SET.SB"); },
                             10000))
            return -1;
        QTest::qWait(500);
        ::kill(pid_t(program.processId()), signalNumber);
        if (!program.waitForFinished(5000))
            program.kill();
        program.waitForFinished();
        return program.exitStatus() == QProcess::NormalExit ? program.exitCode() : -1;
    }
};

int main(int argc, char **argv)
{
    Xvfb xvfb; // the title test's own X server; without it (or xprop), Qt's offscreen screen
    if (!xvfb.display().isEmpty() && !QStandardPaths::findExecutable("xprop").isEmpty()) {
        qputenv("DISPLAY", xvfb.display().toLocal8Bit());
        qputenv("QT_QPA_PLATFORM", "xcb");
    }
    QApplication app(argc, argv);
    prepareApplication();
    TestWindowSystem test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_windowsystem.moc"
