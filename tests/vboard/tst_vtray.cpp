// The virtual board's program playing a tray: boards on their own links and terminals, each with
// its own fault, pulled out and plugged in again; a host on each link plays the download.
#include "wire.h"

#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

namespace
{

const QByteArray image = testImage(3000); // three blocks: replies A B C C D

// Up to one reply (5 bytes) within `ms`: its letter, '-' for none, '!' for a hang-up.
char readReply(int fd, int ms)
{
    QByteArray got;
    QElapsedTimer t;
    t.start();
    while (got.size() < 5 && t.elapsed() < ms) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, ms - int(t.elapsed())) <= 0)
            continue;
        char buf[5];
        const ssize_t n = ::read(fd, buf, size_t(5 - got.size()));
        if (n <= 0 || (p.revents & POLLHUP))
            return '!';
        got.append(buf, n);
    }
    for (char letter : {'A', 'B', 'C', 'D'})
        if (got == reply(letter))
            return letter;
    return got.isEmpty() ? '-' : '?';
}

// The host's side of a download on an open port: the replies as letters.
QString download(int fd)
{
    QByteArrayList pieces{downloadRequest, lengthFrame(int(image.size()))};
    for (int at = 0; at < image.size(); at += 1024)
        pieces << image.mid(at, 1024);
    QString replies;
    for (const QByteArray &piece : pieces) {
        if (::write(fd, piece.constData(), size_t(piece.size())) != piece.size())
            return replies + QLatin1Char('w');
        replies += QLatin1Char(readReply(fd, 300));
        if (replies.endsWith(QLatin1Char('!')))
            break;
    }
    return replies;
}

} // namespace

class TstVTray : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        const QList<QStringList> refused{{"--boards", "2"}, // no COM numbers
                                         {"--com", "15", "--boards", "3"},
                                         {"--com", "1", "--boards", "2", "--fault-on", "3=never-a"},
                                         {"--com", "1", "--fault-on", "1=vanish-after"}};
        for (const QStringList &args : refused)
            QCOMPARE(QProcess::execute(VBOARD_PATH, args + QStringList{"--config", "/nonexistent"}),
                     2);
    }

    void tray_data()
    {
        QTest::addColumn<int>("com");
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QStringList>("replies"); // per board, from COM `com` on
        QTest::addColumn<int>("unplugAfter");     // 0: plugged until the end
        QTest::addColumn<int>("status");
        // clang-format off
        QTest::newRow("COM2 silent after 2") << 1 << QStringList{"--fault-on", "2=silent-after=2"} << QStringList{"ABCCD", "ABCC-", "ABCCD"} << 0 << 0;
        QTest::newRow("COM6 vanishes after 1") << 5 << QStringList{"--fault-on", "6=vanish-after=1", "--fault", "never-d"} << QStringList{"ABCC-", "ABC!"} << 0 << 1;
        QTest::newRow("plug schedule") << 14 << QStringList{"--unplug-after", "1500", "--replug-after", "300"} << QStringList{"ABCCD", "ABCCD", "ABCCD"} << 1500 << 0;
        // clang-format on
    }

    void tray()
    {
        QFETCH(int, com);
        QFETCH(QStringList, args);
        QFETCH(QStringList, replies);
        QFETCH(int, unplugAfter);
        QTemporaryDir dir;
        const QString expect = dir.filePath("image.bin");
        QFile f(expect);
        QVERIFY(f.open(QIODevice::WriteOnly) && f.write(image) == image.size());
        f.close();
        const auto link = [&](int k) {
            return dir.filePath(QStringLiteral("ports/com%1").arg(com + k));
        };

        QProcess board;
        board.start(VBOARD_PATH,
                    args + QStringList{"--config", dir.path(), "--com", QString::number(com),
                                       "--boards", QString::number(replies.size()), "--expect",
                                       expect});
        QByteArray out;
        const auto output = [&]() -> const QByteArray & {
            return out += board.readAllStandardOutput();
        };
        QTRY_COMPARE_WITH_TIMEOUT(output().count("plugged"), replies.size(), 5000);

        QList<int> fds;
        for (int k = 0; k < replies.size(); ++k) {
            fds << ::open(QFile::encodeName(link(k)).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
            QVERIFY(fds.last() >= 0);
            QCOMPARE(download(fds.last()), replies[k]);
            if (replies[k].endsWith(QLatin1Char('!'))) // the adapter's link goes with it
                QTRY_VERIFY(!QFileInfo(link(k)).isSymLink());
            else // the whole image taken, answered or not
                QTRY_VERIFY(
                    output().contains(QStringLiteral("COM%1: MATCH").arg(com + k).toUtf8()));
        }
        if (unplugAfter > 0) {
            // Pulled out: the open port hangs up with the link gone; plugged in again, a new
            // link to a new terminal that answers.
            QCOMPARE(readReply(fds[0], unplugAfter + 1000), '!');
            QVERIFY(!QFileInfo(link(0)).isSymLink());
            QTRY_VERIFY_WITH_TIMEOUT(QFileInfo(link(0)).isSymLink(), 2000);
            const int fd =
                ::open(QFile::encodeName(link(0)).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
            QVERIFY(fd >= 0);
            QCOMPARE(download(fd), replies[0]);
            ::close(fd);
            QTRY_VERIFY(output().contains(QStringLiteral("COM%1: unplugged").arg(com).toUtf8()));
        }
        for (int fd : fds)
            ::close(fd);

        board.terminate(); // every thread stops and takes its link away
        QVERIFY(board.waitForFinished(5000));
        QTEST(board.exitCode(), "status");
        for (int k = 0; k < replies.size(); ++k)
            QVERIFY(!QFileInfo(link(k)).isSymLink());
    }
};

QTEST_GUILESS_MAIN(TstVTray)
#include "tst_vtray.moc"
