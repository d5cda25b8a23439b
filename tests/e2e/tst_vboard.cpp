// The virtual board's bootloader state machine, fed the host's stream in pieces.
#include "board.h"
#include "ptyboard.h"

#include <QElapsedTimer>
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

#include <QTest>

using VBoard::Board;
using VBoard::Fault;
using VBoard::Options;

namespace
{

const QByteArray request = QByteArray::fromHex("444D46");
const QByteArray reset = QByteArray::fromHex("F1F2F3F4F5E1E2E3E4E55D4D3D2D1D5C4C3C2C1C");

QByteArray frame(int length)
{
    const int n = length / 1024, r = length % 1024;
    QByteArray f = QByteArray::fromHex("B1B2B3");
    f += char(n >> 8);
    f += char(n & 0xFF);
    f += char(r >> 8);
    f += char(r & 0xFF);
    return f + QByteArray::fromHex("1B2B3B");
}

QByteArray image(int length)
{
    QByteArray data(length, '\0');
    for (int i = 0; i < length; ++i)
        data[i] = char(i * 13 + 5);
    return data;
}

// Blocks as the host sends them, one piece each.
QByteArrayList blocks(const QByteArray &data)
{
    QByteArrayList out;
    for (qsizetype at = 0; at < data.size(); at += 1024)
        out << data.mid(at, 1024);
    return out;
}

// What the board wrote after each piece, separated by '|': the reply's letter, "0" before it
// for a stray byte, "~" for the first piece of a split reply.
QString play(Board &board, const QByteArrayList &pieces, bool byteByByte = false)
{
    QString out;
    for (const QByteArray &piece : pieces) {
        QList<VBoard::Write> writes;
        if (byteByByte)
            for (char c : piece)
                writes += board.feed(c);
        else
            writes = board.feed(piece);
        for (const VBoard::Write &w : writes) {
            if (!w.reply)
                out += QLatin1Char('~');
            else if (w.bytes.size() == 6 && w.bytes[0] == '\0')
                out += QStringLiteral("0") + QLatin1Char(w.reply);
            else
                out += QLatin1Char(w.reply);
        }
        out += QLatin1Char('|');
    }
    return out;
}

} // namespace

class TestVBoard : public QObject
{
    Q_OBJECT
private slots:
    void exchanges_data();
    void exchanges();
    void replyBytesAndDelays();
    void abandonAndStartOver();
    void ptyBoardPacedAndRestartable();
};

void TestVBoard::exchanges_data()
{
    QTest::addColumn<int>("fault");
    QTest::addColumn<int>("option"); // silent-after's K, or the request to answer
    QTest::addColumn<bool>("resetOnly");
    QTest::addColumn<QByteArrayList>("pieces");
    QTest::addColumn<QString>("replies");
    QTest::addColumn<int>("received"); // image bytes taken

    const QByteArray i1500 = image(1500), i2048 = image(2048), i100 = image(100);
    const int none = int(Fault::None);
    const QByteArrayList pieces1500 = QByteArrayList{request, frame(1500)} + blocks(i1500);
    QString c68;
    for (int i = 0; i < 68; ++i)
        c68 += "C|";

    // clang-format off
    QTest::newRow("1500") << none << 1 << false << pieces1500 << "A|B|C|D|" << 1500;
    QTest::newRow("2048") << none << 1 << false << (QByteArrayList{request, frame(2048)} + blocks(i2048)) << "A|B|C|D|" << 2048;
    QTest::newRow("100") << none << 1 << false << (QByteArrayList{request, frame(100), i100}) << "A|B|D|" << 100;
    QTest::newRow("70000") << none << 1 << false << (QByteArrayList{request, frame(70000)} + blocks(image(70000))) << "A|B|" + c68 + "D|" << 70000;
    QTest::newRow("no image") << none << 1 << false << QByteArrayList{request, frame(0), request} << "A|B|A|" << 0;
    QTest::newRow("noise before request and frame") << none << 1 << false
        << QByteArrayList{QByteArray::fromHex("00444D"), request, QByteArray::fromHex("FFB1B2"), frame(100), i100} << "|A||B|D|" << 100;
    QTest::newRow("broken frame tail") << none << 1 << false
        << QByteArrayList{request, QByteArray::fromHex("B1B2B3000000641B2B00"), frame(100), i100} << "A||B|D|" << 100;
    QTest::newRow("host starts over before the frame") << none << 1 << false
        << QByteArrayList{request, request, frame(100), i100} << "A|A|B|D|" << 100;
    QTest::newRow("reset restarts the bootloader") << none << 1 << false
        << QByteArrayList{request, reset, request} << "A||A|" << 0;
    QTest::newRow("reset only: requests before it ignored") << none << 1 << true
        << QByteArrayList{request, request, reset, request} << "|||A|" << 0;
    QTest::newRow("reset only: third request after it") << none << 3 << true
        << QByteArrayList{reset, request, request, request, request, reset, request} << "|||A|A|||" << 0;
    QTest::newRow("repeated frame answered again") << none << 1 << false
        << (QByteArrayList{request, frame(1500), frame(1500)} + blocks(i1500)) << "A|B|B|C|D|" << 1500;
    QTest::newRow("never A") << int(Fault::NeverA) << 1 << false << QByteArrayList{request, frame(100), request} << "|||" << 0;
    QTest::newRow("never B") << int(Fault::NeverB) << 1 << false << QByteArrayList{request, frame(100), frame(100)} << "A|||" << 0;
    QTest::newRow("silent after 1 block") << int(Fault::SilentAfter) << 1 << false
        << (QByteArrayList{request, frame(3000)} + blocks(image(3000))) << "A|B|C|||" << 3000;
    QTest::newRow("silent after 0 blocks") << int(Fault::SilentAfter) << 0 << false << pieces1500 << "A|B|||" << 1500;
    QTest::newRow("never D") << int(Fault::NeverD) << 1 << false << pieces1500 << "A|B|C||" << 1500;
    QTest::newRow("stray byte before the first B") << int(Fault::StrayByte) << 1 << false
        << (QByteArrayList{request, frame(1500), frame(1500)} + blocks(i1500)) << "A|0B|B|C|D|" << 1500;
    QTest::newRow("split replies") << int(Fault::SplitReplies) << 1 << false << pieces1500 << "~A|~B|~C|~D|" << 1500;
    // clang-format on
}

void TestVBoard::exchanges()
{
    QFETCH(int, fault);
    QFETCH(int, option);
    QFETCH(bool, resetOnly);
    QFETCH(QByteArrayList, pieces);
    QFETCH(QString, replies);
    QFETCH(int, received);

    Options options;
    options.fault = Fault(fault);
    options.autoResetOnly = resetOnly;
    if (options.fault == Fault::SilentAfter)
        options.silentAfter = option;
    else
        options.answerRequest = option;

    // The same stream, in its pieces and one byte at a time, gives the same answers.
    for (bool byteByByte : {false, true}) {
        Board board(options);
        QCOMPARE(play(board, pieces, byteByByte), replies);
        QCOMPARE(board.image().size(), received);
        if (received > 0)
            QCOMPARE(board.image(), image(received));
    }
}

void TestVBoard::replyBytesAndDelays()
{
    Options options;
    options.replyDelayMs = 3;
    options.blockDelayMs = 7;
    Board board(options);
    auto a = board.feed(request);
    QCOMPARE(a.size(), 1);
    QCOMPARE(a[0].bytes, QByteArray::fromHex("A1A2A32A1A"));
    QCOMPARE(a[0].delayMs, 3);
    auto b = board.feed(frame(1500));
    QCOMPARE(b[0].bytes, QByteArray::fromHex("B1B2B32B1B"));
    QCOMPARE(b[0].delayMs, 3);
    auto c = board.feed(image(1500).left(1024));
    QCOMPARE(c[0].bytes, QByteArray::fromHex("C1C2C32C1C"));
    QCOMPARE(c[0].delayMs, 7);
    auto d = board.feed(image(1500).mid(1024));
    QCOMPARE(d[0].bytes, QByteArray::fromHex("D1D2D32D1D"));
    QCOMPARE(d[0].delayMs, 7);
    QCOMPARE(board.downloadsCompleted(), 1);

    options.fault = Fault::SplitReplies;
    Board split(options);
    const auto parts = split.feed(request);
    QCOMPARE(parts.size(), 2);
    QCOMPARE(parts[0].bytes + parts[1].bytes, QByteArray::fromHex("A1A2A32A1A"));
    QCOMPARE(parts[1].delayMs, parts[0].delayMs + 1);
}

void TestVBoard::abandonAndStartOver()
{
    Board board;
    board.feed(request + frame(3000) + image(1500));
    QCOMPARE(board.state(), VBoard::State::Blocks);
    // A request in the middle of a block is image data ...
    QVERIFY(board.feed(request).isEmpty());
    // ... until the host has been quiet long enough.
    board.abandon();
    QVERIFY(!board.midDownload());
    QCOMPARE(play(board, {request}), QStringLiteral("A|"));
}

void TestVBoard::ptyBoardPacedAndRestartable()
{
    // At 9600 baud the request's 3 bytes and the reply's 5 take 10 bit times each: the reply
    // cannot be complete sooner than 8.3 ms after the request was written.
    PtyBoard::Settings settings;
    settings.baud = 9600;
    settings.board.replyDelayMs = 0;
    PtyBoard board(settings);
    QVERIFY(board.open());
    const int fd = ::open(board.slavePath().toLocal8Bit().constData(), O_RDWR | O_NOCTTY);
    QVERIFY(fd >= 0);
    termios tio{};
    tcgetattr(fd, &tio);
    cfmakeraw(&tio);
    tcsetattr(fd, TCSANOW, &tio);
    auto exchange = [&](const QByteArray &out) {
        QByteArray in;
        QElapsedTimer t;
        t.start();
        QCOMPARE(::write(fd, out.constData(), size_t(out.size())), ssize_t(out.size()));
        while (in.size() < 5 && t.elapsed() < 2000) {
            pollfd p{fd, POLLIN, 0};
            char buf[16];
            if (::poll(&p, 1, 100) > 0) {
                const ssize_t n = ::read(fd, buf, sizeof buf);
                if (n > 0)
                    in.append(buf, n);
            }
        }
        QCOMPARE(in, QByteArray::fromHex("A1A2A32A1A"));
        QVERIFY2(t.nsecsElapsed() >= 8'300'000, QByteArray::number(t.nsecsElapsed()));
    };
    for (int run = 0; run < 2; ++run) { // a stopped board runs again
        std::thread loop([&] { board.run(false); });
        exchange(request);
        board.stop();
        loop.join();
        board.board().abandon();
    }
    ::close(fd);
}

QTEST_GUILESS_MAIN(TestVBoard)
#include "tst_vboard.moc"
