#include "tone.h"

#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTemporaryFile>
#include <QtTest>

#include <unistd.h>

class TestAlsaTone : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase() { qputenv("XDG_CONFIG_HOME", m_home.path().toLocal8Bit()); }

    // These machines have no sound card: every beep must still take its time, quietly. ALSA's
    // null device, which swallows the samples at once, stands in for a sound card (last:
    // ALSA keeps its configuration for the rest of the process).
    void beepTakesItsTimeSilently_data()
    {
        QTest::addColumn<int>("hz");
        QTest::addColumn<int>("ms");
        QTest::addColumn<int>("atLeast");
        QTest::addColumn<bool>("nullDevice");
        QTest::newRow("tone") << 5000 << 30 << 25 << false;
        QTest::newRow("inaudible tone") << 30000 << 30 << 25 << false;
        QTest::newRow("no time") << 5000 << 0 << 0 << false;
        QTest::newRow("tone on a device") << 5000 << 30 << 25 << true;
    }
    void beepTakesItsTimeSilently()
    {
        QFETCH(int, hz);
        QFETCH(int, ms);
        QFETCH(int, atLeast);
        QFETCH(bool, nullDevice);
        QTemporaryFile err, conf;
        QVERIFY(err.open() && conf.open());
        conf.write("pcm.!default { type null }\n");
        conf.flush();
        if (nullDevice)
            qputenv("ALSA_CONFIG_PATH", conf.fileName().toLocal8Bit());
        const int savedStderr = dup(STDERR_FILENO);
        dup2(err.handle(), STDERR_FILENO);
        QElapsedTimer t;
        t.start();
        AlsaTone tone;
        tone.Beep(hz, ms);
        const qint64 spent = t.elapsed();
        dup2(savedStderr, STDERR_FILENO);
        close(savedStderr);
        qunsetenv("ALSA_CONFIG_PATH");
        QVERIFY2(spent >= atLeast && spent < 1000, qPrintable(QString::number(spent)));
        QFile written(err.fileName()); // the shared offset already stands at the end of err
        QVERIFY(written.open(QIODevice::ReadOnly));
        QCOMPARE(written.readAll(), QByteArray());
    }

private:
    QTemporaryDir m_home;
};

QTEST_GUILESS_MAIN(TestAlsaTone)
#include "tst_alsatone.moc"
