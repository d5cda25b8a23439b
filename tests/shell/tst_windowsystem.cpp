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
            if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget())) {
                QProcess xprop;
                xprop.start("xprop", {"-id", QString::number(box->winId()), "-notype",
                                      "_NET_WM_NAME", "WM_NAME"});
                xprop.waitForFinished(10000);
                said = xprop.readAllStandardOutput();
                box->accept();
            }
        });
        QtDialogs().information(nullptr, Notices::title, QStringLiteral("COM3"));
        QCOMPARE(QString::fromUtf8(said),
                 QStringLiteral("_NET_WM_NAME = \"提示信息!\"\nWM_NAME = \"提示信息!\"\n"));
    }

    void signalsEndTheProgram_data()
    {
        QTest::addColumn<int>("signalNumber");
        QTest::addColumn<QString>("entry");     // in the lock folder, %1: the terminal's number
        QTest::addColumn<bool>("fifo");         // else a folder
        QTest::addColumn<bool>("systemFolder"); // the system's lock folder, private to the run
        // clang-format off
        QTest::newRow("SIGTERM, FIFO with Qt's name") << int(SIGTERM) << "LCK..pts_%1" << true << false;
        QTest::newRow("SIGHUP, folder with Qt's name") << int(SIGHUP) << "LCK..pts_%1" << false << false;
        QTest::newRow("SIGINT, FIFO with UUCP name") << int(SIGINT) << "LCK..%1" << true << false;
        QTest::newRow("FIFO in the system's folder") << int(SIGTERM) << "LCK..pts_%1" << true << true;
        // clang-format on
    }

    // The program ends through its window's close, exits 128+signal, and leaves non-lock entries.
    void signalsEndTheProgram()
    {
        QFETCH(int, signalNumber);
        QFETCH(QString, entry);
        QFETCH(bool, systemFolder);
        if (systemFolder &&
            QProcess::execute("unshare", {"-m", "mount", "--bind", "/tmp", "/run/lock"}))
            QSKIP("needs unshare(1) and the right to mount in a namespace of its own");
        QTemporaryDir home;
        PtyPeer peer;
        peer.linkAs(home.path() + "/vantrel/ports", 3);
        const QString locks = home.path() + "/locks";
        entry = locks + '/' + entry.arg(QFileInfo(peer.slavePath()).fileName());
        QFETCH(bool, fifo);
        QVERIFY(QDir().mkpath(locks) &&
                (fifo ? ::mkfifo(QFile::encodeName(entry).constData(), 0644) == 0
                      : QDir().mkpath(entry)));
        QProcess program;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("XDG_CONFIG_HOME", home.path());
        env.insert("QT_QPA_PLATFORM", "offscreen");
        env.insert("VANTREL_LOCK_DIR", locks);
        program.setProcessEnvironment(env);
        if (systemFolder) // where Qt's serial port keeps its own lock file
            program.start("unshare",
                          {"-m", "sh", "-c", R"(mount --bind "$1" /run/lock && exec "$2")", "sh",
                           locks, VANTREL_PATH});
        else
            program.start(VANTREL_PATH, QStringList());
        QVERIFY(program.waitForStarted());
        // The settings file is written during start-up; the window is up soon after.
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(home.path() + "/vantrel/VANTREL_SET.SB"), 10000);
        QTest::qWait(500);
        ::kill(pid_t(program.processId()), signalNumber);
        const auto killer = qScopeGuard([&] { program.kill(), program.waitForFinished(); });
        QVERIFY(program.waitForFinished(5000));
        QCOMPARE(program.exitStatus(), QProcess::NormalExit);
        QCOMPARE(program.exitCode(), 128 + signalNumber);
        QVERIFY(QFileInfo::exists(entry)); // not the program's to remove
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
