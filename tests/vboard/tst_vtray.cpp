// The virtual board: its program playing a tray (boards on their own links and terminals, each
// with its own fault, pulled out and plugged in again; a host on each link plays the download),
// its state machine fed piece by piece, and its terminal after a killed host.
#include "files.h"
#include "ptyboard.h"
#include "wire.h"

#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

using VBoard::Fault;
Q_DECLARE_METATYPE(VBoard::Options)

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

int openPort(const QString &link)
{
    return ::open(QFile::encodeName(link).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
}

// What a host writes for a download of testImage(length): the request, the length frame, one
// piece per block.
QByteArrayList pieces(int length)
{
    QByteArrayList pieces{downloadRequest, lengthFrame(length)};
    for (int at = 0; at < length; at += 1024)
        pieces << testImage(length).mid(at, 1024);
    return pieces;
}

// The host's side of a download of `image` on an open port: the replies as letters.
QString download(int fd)
{
    QString replies;
    for (const QByteArray &piece : pieces(int(image.size()))) {
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
    void refused_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QString>("error"); // the whole of standard error
        // clang-format off
        QTest::newRow("tray without COM numbers") << QStringList{"--boards", "2"} << "--boards needs --com, the first board's COM number";
        QTest::newRow("tray beyond COM16") << QStringList{"--com", "15", "--boards", "3"} << "--boards: COM15 .. COM17 goes beyond COM16";
        QTest::newRow("COM17") << QStringList{"--com", "17"} << "--com: 17 is not a port the window lists (1 to 16)";
        QTest::newRow("17 boards") << QStringList{"--com", "1", "--boards", "17"} << "--boards: at most 16";
        QTest::newRow("fault on no board") << QStringList{"--com", "1", "--boards", "2", "--fault-on", "3=never-a"} << "--fault-on: no board on COM3";
        QTest::newRow("fault without its count") << QStringList{"--com", "1", "--fault-on", "1=vanish-after"} << "--fault-on: \"1=vanish-after\" is not K=FAULT (see --help)";
        QTest::newRow("count not a number") << QStringList{"--fault", "silent-after=x"} << "fault silent-after=K needs a number";
        QTest::newRow("unknown fault") << QStringList{"--fault", "never-c"} << "unknown fault \"never-c\" (see --help)";
        QTest::newRow("below the least") << QStringList{"--cycles", "0"} << "--cycles: bad number \"0\"";
        QTest::newRow("unknown option") << QStringList{"--bogus", "1"} << "unknown option --bogus (see --help)";
        QTest::newRow("value missing") << QStringList{"--once", "--stagger"} << "--stagger needs a value (see --help)";
        // clang-format on
    }

    void refused()
    {
        QFETCH(QStringList, args);
        QFETCH(QString, error);
        QProcess board;
        board.start(VBOARD_PATH, QStringList{"--config", "/nonexistent"} + args);
        QVERIFY(board.waitForFinished(5000));
        QCOMPARE(board.exitCode(), 2);
        QCOMPARE(board.readAllStandardError(), "vantrel-vboard: " + error.toUtf8() + '\n');
        QVERIFY(board.readAllStandardOutput().isEmpty());
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
        writeBytes(expect, image);
        const auto link = [&](int k) {
            return dir.filePath(QStringLiteral("ports/com%1").arg(com + k));
        };
        QProcess board;
        board.start(VBOARD_PATH,
                    args + QStringList{"--config", dir.path(), "--com", QString::number(com),
                                       "--boards", QString::number(replies.size()), "--expect",
                                       expect, "--save", dir.filePath("saved")});
        QByteArray out;
        const auto output = [&] { return out += board.readAllStandardOutput(); };
        QTRY_COMPARE_WITH_TIMEOUT(output().count("plugged"), replies.size(), 5000);

        QList<int> fds;
        for (int k = 0; k < replies.size(); ++k) {
            fds << openPort(link(k));
            QVERIFY(fds.last() >= 0);
            QCOMPARE(download(fds.last()), replies[k]);
            if (replies[k].endsWith(QLatin1Char('!'))) // the adapter's link goes with it
                QTRY_VERIFY(!QFileInfo(link(k)).isSymLink());
            else { // the whole image taken, answered or not, and kept as comK-1.bin
                QTRY_VERIFY(
                    output().contains(QStringLiteral("COM%1: MATCH").arg(com + k).toUtf8()));
                QCOMPARE(fileBytes(dir.filePath(QStringLiteral("saved/com%1-1.bin").arg(com + k))),
                         image);
            }
        }
        if (unplugAfter > 0) {
            // Pulled out: the open port hangs up with the link gone; plugged in again, a new
            // link to a new terminal that answers.
            QCOMPARE(readReply(fds[0], unplugAfter + 1000), '!');
            QVERIFY(!QFileInfo(link(0)).isSymLink());
            QTRY_VERIFY_WITH_TIMEOUT(QFileInfo(link(0)).isSymLink(), 2000);
            const int fd = openPort(link(0));
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

    void closedDescriptors_data()
    {
        QTest::addColumn<QList<int>>("closed");
        QTest::newRow("stdout") << QList<int>{1};
        QTest::newRow("stdin and stdout") << QList<int>{0, 1};
        QTest::newRow("all three") << QList<int>{0, 1, 2};
    }

    // Without its standard descriptors the board's terminal never takes their place: nothing it
    // prints reaches the host, and --expect finds the image it kept.
    void closedDescriptors()
    {
        QFETCH(QList<int>, closed);
        QTemporaryDir dir;
        const QString expect = dir.filePath("image.bin"), link = dir.filePath("ports/com1");
        writeBytes(expect, image);
        QProcess board;
        board.setChildProcessModifier([closed] {
            for (int fd : closed)
                ::close(fd);
        });
        board.start(VBOARD_PATH,
                    {"--config", dir.path(), "--com", "1", "--expect", expect, "--once"});
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo(link).isSymLink(), 5000);
        const int fd = openPort(link);
        QCOMPARE(download(fd), QStringLiteral("ABCCD")); // "w" when it did not open
        ::close(fd);
        QVERIFY(board.waitForFinished(5000));
        QCOMPARE(board.exitCode(), 0);
    }

    void boardExchanges_data()
    {
        QTest::addColumn<VBoard::Options>("board");
        QTest::addColumn<QByteArrayList>("pieces"); // an empty piece: the host goes quiet
        QTest::addColumn<QString>("replies"); // after each piece: "0" a stray byte, "~" a part
        QTest::addColumn<int>("received");    // image bytes taken
        const QByteArray &req = downloadRequest, &reset = resetRequest;
        using O = VBoard::Options;
        // clang-format off
        QTest::newRow("noise") << O{} << QByteArrayList{QByteArray::fromHex("00444D"), req, QByteArray::fromHex("FFB1B2B3000000641B2B00")} + pieces(100).mid(1) << "|A||B|D|" << 100;
        QTest::newRow("request again before the frame") << O{} << QByteArrayList{req} + pieces(100) << "A|A|B|D|" << 100;
        QTest::newRow("frame repeated") << O{} << QByteArrayList{req, lengthFrame(1500)} + pieces(1500).mid(1) << "A|B|B|C|D|" << 1500;
        QTest::newRow("request inside a block, then quiet") << O{} << QByteArrayList{req, lengthFrame(3000), testImage(1500), req, {}, req} << "A|B|C|||A|" << 1024;
        QTest::newRow("reset restarts") << O{} << QByteArrayList{req, reset, req} << "A||A|" << 0;
        QTest::newRow("split replies") << O{.fault = Fault::SplitReplies} << pieces(1500) << "~A|~B|~C|~D|" << 1500;
        // clang-format on
    }

    void boardExchanges()
    {
        QFETCH(VBoard::Options, board);
        QFETCH(QByteArrayList, pieces);
        QFETCH(int, received);
        for (bool byteByByte : {false, true}) { // the same answers either way
            VBoard::Board b(board);
            QString replies;
            for (const QByteArray &piece : pieces) {
                QList<VBoard::Write> writes;
                for (int at = 0; at < piece.size(); at += byteByByte ? 1 : piece.size())
                    writes += b.feed(piece.mid(at, byteByByte ? 1 : -1));
                if (piece.isEmpty())
                    b.abandon();
                for (const VBoard::Write &w : writes)
                    replies += w.bytes.startsWith('\0') ? QString("0") + w.reply
                               : w.reply                ? QString(w.reply)
                                                        : QString("~");
                replies += '|';
            }
            QTEST(replies, "replies");
            QCOMPARE(b.image(), testImage(received));
        }
    }

    // A host that dies with the board's terminal open leaves it in exclusive mode (Qt clears it
    // only on a proper close); the board clears it, so the next host is not refused.
    void virtualBoardClearsExclusiveModeAfterItsHost()
    {
        PtyBoard board({});
        QVERIFY(board.open());
        const QByteArray slave = QFile::encodeName(board.slavePath());
        const int host = ::open(slave.constData(), O_RDWR | O_NOCTTY | O_CLOEXEC);
        QVERIFY(host >= 0 && ::ioctl(host, TIOCEXCL) == 0);
        ::close(host); // as the kernel does for a killed host: no TIOCNXCL
        board.service();
        const int next = ::open(slave.constData(), O_RDWR | O_NOCTTY | O_CLOEXEC);
        int exclusive = -1;
        QVERIFY(next >= 0 && ::ioctl(next, TIOCGEXCL, &exclusive) == 0);
        ::close(next);
        QCOMPARE(exclusive, 0);
    }
};

QTEST_GUILESS_MAIN(TstVTray)
#include "tst_vtray.moc"
