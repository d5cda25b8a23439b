// The window as the system sees it: the title the X server holds for a notice box, and the
// program's end when a signal asks for it.
#include "application.h"
#include "module1.h"
#include "qtdialogs.h"

#include <QApplication>
#include <QMessageBox>
#include <QtTest>

#include <csignal>

// An X server of the test's own, when Xvfb and xprop are installed; else Qt's offscreen screen.
static QProcess *g_xvfb = nullptr;

static bool startXvfb()
{
    if (QStandardPaths::findExecutable("Xvfb").isEmpty() ||
        QStandardPaths::findExecutable("xprop").isEmpty())
        return false;
    g_xvfb = new QProcess;
    g_xvfb->start("Xvfb", {"-displayfd", "1", "-screen", "0", "1280x1024x24", "-dpi", "96",
                           "-nolisten", "tcp"});
    QByteArray display;
    while (!display.endsWith('\n') && g_xvfb->waitForReadyRead(10000))
        display += g_xvfb->readAllStandardOutput();
    if (display.trimmed().isEmpty()) { // no server after all: the title test is skipped
        g_xvfb->kill();
        g_xvfb->waitForFinished();
        delete g_xvfb;
        g_xvfb = nullptr;
        return false;
    }
    qputenv("DISPLAY", ":" + display.trimmed());
    qputenv("QT_QPA_PLATFORM", "xcb");
    return true;
}

class TestWindowSystem : public QObject
{
    Q_OBJECT
private slots:
    void noticeTitleIsExact();
    void signalsEndTheProgram_data();
    void signalsEndTheProgram();
};

void TestWindowSystem::noticeTitleIsExact()
{
    if (!g_xvfb)
        QSKIP("needs Xvfb and xprop (packages xvfb, x11-utils)");
    QByteArray said;
    QTimer::singleShot(300, [&] {
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        if (!box)
            return;
        QProcess xprop;
        xprop.start("xprop",
                    {"-id", QString::number(box->winId()), "-notype", "_NET_WM_NAME", "WM_NAME"});
        xprop.waitForFinished(10000);
        said = xprop.readAllStandardOutput();
        box->accept();
    });
    QtDialogs().information(nullptr, Module1::noticeTitle, QStringLiteral("COM3"));
    QCOMPARE(QString::fromUtf8(said),
             QStringLiteral("_NET_WM_NAME = \"提示信息!\"\nWM_NAME = \"提示信息!\"\n"));
}

void TestWindowSystem::signalsEndTheProgram_data()
{
    QTest::addColumn<int>("signalNumber");
    QTest::newRow("SIGTERM") << int(SIGTERM);
    QTest::newRow("SIGHUP") << int(SIGHUP);
    QTest::newRow("SIGINT") << int(SIGINT);
}

// The program ends through its window's close (which closes the port and drops its lock) and
// says which signal it was, rather than being killed by it.
void TestWindowSystem::signalsEndTheProgram()
{
    QFETCH(int, signalNumber);
    QTemporaryDir home;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("XDG_CONFIG_HOME", home.path());
    env.insert("QT_QPA_PLATFORM", "offscreen");
    QProcess program;
    program.setProcessEnvironment(env);
    program.start(VANTREL_PATH, QStringList());
    QVERIFY(program.waitForStarted());
    // The settings file is written during start-up; the window is up soon after.
    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(home.path() + "/vantrel/VANTREL_SET.SB"), 10000);
    QTest::qWait(500);
    ::kill(pid_t(program.processId()), signalNumber);
    QVERIFY(program.waitForFinished(5000));
    QCOMPARE(program.exitStatus(), QProcess::NormalExit);
    QCOMPARE(program.exitCode(), 128 + signalNumber);
}

int main(int argc, char **argv)
{
    startXvfb();
    QApplication app(argc, argv);
    prepareApplication();
    TestWindowSystem test;
    const int failed = QTest::qExec(&test, argc, argv);
    if (g_xvfb) {
        g_xvfb->terminate();
        g_xvfb->waitForFinished(5000);
        delete g_xvfb;
    }
    return failed;
}

#include "tst_windowsystem.moc"
