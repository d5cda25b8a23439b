// The virtual board: its program as a tray of faulty boards, its state machine, its terminal.
#include "files.h"
#include "ptyboard.h"
#include "wire.h"

#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

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

// The exit code, or -1 when the program is still running after 5 s.
int finished(QProcess &p)
{
    return p.waitForFinished(5000) ? p.exitCode() : -1;
}

// The board program on `dir`, expecting `image` and keeping what it takes in dir/saved.
void start(QProcess &board, const QTemporaryDir &dir, const QStringList &args)
{
    writeBytes(dir.filePath("image.bin"), image);
    board.start(VBOARD_PATH,
                args + QStringList{"--config", dir.path(), "--expect", dir.filePath("image.bin"),
                                   "--save", dir.filePath("saved")});
}

// What a host writes for a download of testImage(length): request, length frame, blocks.
QByteArrayList pieces(int length)
{
    QByteArrayList pieces{downloadRequest, lengthFrame(length)};
    for (int at = 0; at < length; at += 1024)
        pieces << testImage(length).mid(at, 1024);
    return pieces;
}

// The host's side of a download of `image` on `link`: the replies as letters ("o": no port).
// With `keep` the port stays open there.
QString download(const QString &link, int *keep = nullptr)
{
    const int fd = ::open(QFile::encodeName(link).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (fd < 0)
        return QStringLiteral("o");
    QString replies;
    for (const QByteArray &piece : pieces(int(image.size()))) {
        if (::write(fd, piece.constData(), size_t(piece.size())) != piece.size())
            return replies + QLatin1Char('w'); // (the port stays open)
        replies += QLatin1Char(readReply(fd, 300));
        if (replies.endsWith(QLatin1Char('!')))
            break;
    }
    keep ? void(*keep = fd) : void(::close(fd));
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
        QTest::newRow("COM0") << QStringList{"--com", "0"} << "--com: 0 is not a port the window lists (1 to 16)";
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
        QCOMPARE(finished(board), 2);
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
        const auto link = [&](int k) { return dir.filePath("ports/com%1").arg(com + k); };
        QProcess board;
        start(board, dir,
              args + QStringList{"--com", QString::number(com), "--boards",
                                 QString::number(replies.size())});
        QByteArray out;
        const auto output = [&] { return out += board.readAllStandardOutput(); };
        QTRY_COMPARE_WITH_TIMEOUT(output().count("plugged"), replies.size(), 5000);

        int first = -1; // kept open
        for (int k = 0; k < replies.size(); ++k) {
            QCOMPARE(download(link(k), k ? nullptr : &first), replies[k]);
            if (replies[k].endsWith(QLatin1Char('!'))) // the adapter's link goes with it
                QTRY_VERIFY(!QFileInfo(link(k)).isSymLink());
            else { // the whole image taken, answered or not, and kept
                QTRY_VERIFY(output().contains("COM" + QByteArray::number(com + k) + ": MATCH"));
                QCOMPARE(fileBytes(dir.filePath("saved/com%1-1.bin").arg(com + k)), image);
            }
        }
        if (unplugAfter > 0) {
            // Pulled out: a hang-up, the link gone; plugged in again: a new link that answers.
            QCOMPARE(readReply(first, unplugAfter + 1000), '!');
            QVERIFY(!QFileInfo(link(0)).isSymLink());
            QTRY_VERIFY_WITH_TIMEOUT(QFileInfo(link(0)).isSymLink(), 2000);
            QCOMPARE(download(link(0)), replies[0]);
            QTRY_VERIFY(output().contains("COM" + QByteArray::number(com) + ": unplugged"));
        }
        ::close(first);
        board.terminate(); // every thread stops and takes its link away
        QTEST(finished(board), "status");
        for (int k = 0; k < replies.size(); ++k)
            QVERIFY(!QFileInfo(link(k)).isSymLink());
    }

    void closedDescriptors_data()
    {
        QTest::addColumn<QList<int>>("closed");
        QTest::newRow("stdout") << QList<int>{1};
        QTest::newRow("all three") << QList<int>{0, 1, 2};
    }

    // Without its standard descriptors its terminal never takes their place (nothing printed
    // reaches the host).
    void closedDescriptors()
    {
        QFETCH(QList<int>, closed);
        QTemporaryDir dir;
        const QString link = dir.filePath("ports/com1");
        QProcess board;
        board.setChildProcessModifier([closed] {
            for (int fd : closed)
                ::close(fd);
        });
        start(board, dir, {"--com", "1", "--once"});
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo(link).isSymLink(), 5000);
        QCOMPARE(download(link), QStringLiteral("ABCCD"));
        QCOMPARE(finished(board), 0); // --expect matched the image kept
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

    // A killed host leaves the terminal in exclusive mode; the board clears it for the next.
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
