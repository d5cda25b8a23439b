// A thousand downloads by one program, each with a random fault (VANTREL_SOAK_SEED repeats a
// soak, VANTREL_SOAK_RUNS sets its length): success shown exactly when the board took the whole
// image and answered, idle after each run, and descriptors and memory as after the tenth run.
#include "e2erig.h"

#include <QElapsedTimer>
#include <QRandomGenerator>

#include <sys/ioctl.h>
#include <unistd.h>

using VBoard::Fault;

namespace
{

const char *const faultNames[] = {"none",           "never A (stopped)", "never B",
                                  "silent after k", "never D (stopped)", "stray byte",
                                  "split replies",  "tty vanishes"};
constexpr int kinds = 8, vanish = 7;
const Fault faults[] = {Fault::None,   Fault::NeverA,    Fault::NeverB,       Fault::SilentAfter,
                        Fault::NeverD, Fault::StrayByte, Fault::SplitReplies, Fault::None};

// Open descriptors, apart from those of Qt's worker threads (which end after 30 s idle).
qint64 openDescriptors()
{
    qint64 n = 0;
    for (const QFileInfo &fd : QDir(QStringLiteral("/proc/self/fd")).entryInfoList(QDir::System))
        n += !fd.symLinkTarget().endsWith(QStringLiteral("[eventfd]"));
    return n;
}

qint64 residentBytes()
{
    QFile statm(QStringLiteral("/proc/self/statm"));
    statm.open(QIODevice::ReadOnly);
    return statm.readAll().split(' ').value(1).toLongLong() * sysconf(_SC_PAGESIZE);
}

// One tick, then events until the board has answered and the program has read it.
void tickSettled(E2eRig &b)
{
    b.form->download.tick();
    for (int quiet = 0, i = 0, unread = 0; quiet < 2 && i < 100; ++i) {
        QTest::qWait(1);
        ::ioctl(b.board->masterFd(), FIONREAD, &unread); // bytes still on their way
        quiet = unread > 0 || b.bays[b.com]->wake.isActive() || b.board->unreadByHost() > 0
                    ? 0
                    : quiet + 1;
    }
}

} // namespace

class TestSoak : public QObject
{
    Q_OBJECT
private slots:
    void runs();

private:
    void run(E2eRig &b, QRandomGenerator &rng, int kind, int number);
    int m_successes = 0;
};

// One download with fault `kind`, the rest drawn from `rng`.
void TestSoak::run(E2eRig &b, QRandomGenerator &rng, int kind, int number)
{
    const int shape = rng.bounded(10), vanishStep = 1 + rng.bounded(4); // whose tty vanishes
    int length = shape == 0 ? 1 : shape < 3 ? 1024 * (1 + rng.bounded(68)) : 1 + rng.bounded(70000);
    if (kind == vanish && vanishStep == 3)
        length = qMax(length, 2048); // an image of one block goes from step 2 to step 4
    const int total = (length + 1023) / 1024;
    VBoard::Options options;
    options.silentAfter = rng.bounded(total + (kind == vanish ? 0 : 1)); // all: D comes
    options.fault = faults[kind == vanish ? vanishStep : kind]; // the fault holds that step
    b.plug(options); // a fresh board each run keeps the test's own memory constant
    b.setAutoReset(rng.bounded(2));
    QByteArray image(length, '\0');
    for (int i = 0; i < length; ++i)
        image[i] = char(rng.bounded(256));
    b.load(image);
    b.click();
    QVERIFY2(b.form->isDownloading(), "the run did not start");
    const int stopAfter = 1 + rng.bounded(10);
    // Without an answer steps 1 and 4 last until the operator stops the run.
    const bool silentAtEnd = options.fault == Fault::NeverD || options.fault == Fault::SilentAfter;
    for (int t = 0; t < 400 && b.step(); ++t) {
        const int step = b.step();
        if (kind == vanish && step == vanishStep && b.port.isOpen()) {
            b.pullPlug();
            QTRY_VERIFY_WITH_TIMEOUT(!b.port.isOpen(), 2000);
        }
        if (t >= stopAfter &&
            ((step == 1 && options.fault == Fault::NeverA) || (step == 4 && silentAtEnd))) {
            b.click();
            break;
        }
        tickSettled(b);
    }
    const bool shown = b.status() == success;
    const bool taken =
        b.board->board().downloadsCompleted() > 0 && b.board->board().image() == image;
    // The board answers every request and block, except that after a stray byte it takes the
    // repeated length frame for image data when the image is that short.
    const bool answered = options.fault == Fault::None || options.fault == Fault::SplitReplies ||
                          (options.fault == Fault::StrayByte && length > 10) ||
                          (options.fault == Fault::SilentAfter && options.silentAfter >= total);
    const QString what =
        QString::asprintf("run %d (%s, %d bytes, auto reset %d): step %d, ", number,
                          faultNames[kind], length, b.form->settings.autoReset, b.step()) +
        b.status();
    QVERIFY2(shown == (taken && answered && kind != vanish), qPrintable(what));
    QVERIFY2(b.idle(), qPrintable(what));
    m_successes += shown;
}

void TestSoak::runs()
{
    const quint64 seed = qEnvironmentVariableIsSet("VANTREL_SOAK_SEED")
                             ? qEnvironmentVariable("VANTREL_SOAK_SEED").toULongLong()
                             : QRandomGenerator::global()->generate64();
    const int runs = qEnvironmentVariableIntValue("VANTREL_SOAK_RUNS") ?: 1000;
    qInfo("soak: seed %llu, %d runs", seed, runs);
    QRandomGenerator rng(seed);
    E2eRig b;
    int counts[kinds] = {};
    qint64 fds10 = 0, rss10 = 0;
    QElapsedTimer clock;
    clock.start();
    for (int number = 1; number <= runs && !QTest::currentTestFailed(); ++number) {
        const int kind = rng.bounded(kinds);
        ++counts[kind];
        run(b, rng, kind, number);
        if (number == 10) {
            b.plug(); // measured with a fresh board, as at the end
            fds10 = openDescriptors();
            rss10 = residentBytes();
        }
    }
    if (QTest::currentTestFailed())
        return;
    b.plug();
    const qint64 fds = openDescriptors(), rss = residentBytes();
    qInfo("soak: %d runs in %.1f s, %d ended in success", runs, clock.elapsed() / 1000.0,
          m_successes);
    for (int k = 0; k < kinds; ++k)
        qInfo("soak:   %-18s %d runs", faultNames[k], counts[k]);
    qInfo("soak: open descriptors %lld after run 10, %lld at the end; resident %.1f MB, %.1f MB",
          fds10, fds, rss10 / 1048576.0, rss / 1048576.0);
    if (runs < 10)
        return;
    QCOMPARE(fds, fds10);
#if !defined(__SANITIZE_ADDRESS__)
    QVERIFY2(rss - rss10 < 2 * 1048576, "resident memory grew"); // ASan keeps freed memory
#endif
}

QTEST_MAIN(TestSoak)
#include "tst_soak.moc"
