// vantrel-vboard: a virtual target board for trying Vantrel without hardware.
#include "configdir.h"
#include "tray.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QList>
#include <QString>

#include <algorithm>
#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <optional>
#include <sys/prctl.h>

namespace
{

const char usage[] = R"(Usage: vantrel-vboard [options]

Plays an STM32 board's serial bootloader on a pseudo-terminal, so that Vantrel can download
an image without hardware: it answers the download request, the length frame and every
block as a real board does, and can keep, compare or refuse what it receives. It can also
play a tray of boards, each on its own COM number and terminal, plugged in and pulled out on
a schedule.

Options:
  --com N             link <config>/ports/comN to the board's terminal, so that Vantrel lists
                      it as COMN (N from 1 to 16, the ports the window lists). This creates
                      the folder ports/ when missing. NOTE: while <config>/ports/ exists,
                      Vantrel's COM numbers stand only for the links in it, not for the
                      system's serial devices; remove the folder to go back.
  --boards N          play N boards (1 to 16) on COMN .. COMN+N-1 of --com, all within 1 to
                      16, each with its own terminal and link; every line printed then starts
                      with the board's port ("COM3: MATCH")
  --config DIR        Vantrel's config folder (default $XDG_CONFIG_HOME/vantrel, or
                      ~/.config/vantrel)
  --auto-reset-only   answer download requests only after a reset request
  --answer-request K  answer the K-th download request (default 1)
  --fault F           never-a | never-b | silent-after=K (acknowledge K blocks, then nothing)
                      | never-d | stray-byte (one byte 00 before the first reply B)
                      | split-replies (each reply in two writes, 1 ms apart)
                      | vanish-after=K (acknowledge K blocks, then the terminal goes away
                      as an unplugged adapter's does: the board is pulled out), for every board
  --fault-on K=F      the board on COMK has fault F instead (repeatable)
  --reply-delay MS    wait before answering the request and the length frame (default 2)
  --block-delay MS    wait before answering each block (default 0)
  --baud RATE         pace the line at RATE baud, 10 bits per byte both ways (default: as
                      fast as the terminal goes)
  --idle-reset MS     give up a download the host left this long (default 1000, 0: never)
  --unplug-after MS   pull each board out MS after it was plugged in: its link is removed and
                      its terminal closed, so that a port open on it hangs up
  --replug-after MS   plug a board that was pulled out in again MS later, on a new terminal
                      and link (default: it stays out); with --unplug-after, boards are
                      plugged in every --unplug-after + --replug-after MS, and a board that
                      vanished comes back at its next plug time
  --unplug-when-done MS
                      pull a board out MS after each complete download's last reply, as an
                      operator who takes each flashed board away
  --stagger MS        plug board k (from 0) in k * MS after the start
  --cycles N          stop each board after N plug cycles (a plug and its unplug; default:
                      no limit)
  --save PATH         write each image received to the file PATH; with --boards above 1 PATH
                      is a folder and the images are comK-1.bin, comK-2.bin ... (created
                      when missing)
  --expect FILE       compare each image received with FILE and print MATCH or MISMATCH; the
                      exit status is 0 when every board's last image matched, 1 otherwise
  --once              exit after every board has completed one download
  -h, --help          show this help

It runs until SIGINT or SIGTERM, --once is met, or no board is left to plug in; then it
removes the links it made. Exit status 2: the command line is wrong.

Examples:
  vantrel-vboard --com 1 --expect firmware.bin --once
  then start Vantrel, choose COM1, load firmware.bin and click 单次下载.
  vantrel-vboard --com 1 --boards 8 --fault-on 3=vanish-after=32 --baud 115200
  vantrel-vboard --com 1 --boards 4 --unplug-when-done 200 --replug-after 1000
)";

std::atomic<VBoard::Tray *> g_tray = nullptr;

void onSignal(int)
{
    if (VBoard::Tray *tray = g_tray.load())
        tray->stop();
}

[[noreturn]] void fail(const QString &message)
{
    std::fprintf(stderr, "vantrel-vboard: %s\n", qPrintable(message));
    std::exit(2);
}

std::optional<int> number(const char *text)
{
    char *end = nullptr;
    errno = 0;
    const long v = std::strtol(text, &end, 10);
    if (errno || end == text || *end || v < 0 || v > 100'000'000)
        return std::nullopt;
    return int(v);
}

// Sets the fault named by `f` ("silent-after=3") on `board`; false when there is none such.
bool setFault(const QByteArray &f, VBoard::Options &board)
{
    using VBoard::Fault;
    const auto counted = [&](const char *name, Fault fault, int &count) {
        const QByteArray prefix = QByteArray(name) + '=';
        if (!f.startsWith(prefix))
            return false;
        const auto k = number(f.constData() + prefix.size());
        if (!k)
            fail(QStringLiteral("fault %1=K needs a number").arg(name));
        board.fault = fault;
        count = *k;
        return true;
    };
    const struct {
        const char *name;
        Fault fault;
    } plain[] = {{"never-a", Fault::NeverA},
                 {"never-b", Fault::NeverB},
                 {"never-d", Fault::NeverD},
                 {"stray-byte", Fault::StrayByte},
                 {"split-replies", Fault::SplitReplies}};
    for (const auto &p : plain) {
        if (f == p.name) {
            board.fault = p.fault;
            return true;
        }
    }
    return counted("silent-after", Fault::SilentAfter, board.silentAfter) ||
           counted("vanish-after", Fault::VanishAfter, board.vanishAfter);
}

struct Args {
    PtyBoard::Settings settings;
    int com = 0;
    int boards = 1;
    QList<QPair<int, QByteArray>> faultOn;
    VBoard::PlugSchedule schedule;
    QString config;
    QString save;
    QString expect;
    bool once = false;
};

Args parse(int argc, char **argv)
{
    Args a;
    for (int i = 1; i < argc; ++i) {
        const QByteArray opt = argv[i];
        if (opt == "-h" || opt == "--help") {
            std::fputs(usage, stdout);
            std::exit(0);
        }
        if (opt == "--auto-reset-only") {
            a.settings.board.autoResetOnly = true;
            continue;
        }
        if (opt == "--once") {
            a.once = true;
            continue;
        }
        if (i + 1 >= argc)
            fail(QStringLiteral("%1 needs a value (see --help)").arg(QString::fromLocal8Bit(opt)));
        const char *value = argv[++i];
        const auto num = [&](int min) {
            const auto v = number(value);
            if (!v || *v < min)
                fail(QStringLiteral("%1: bad number \"%2\"")
                         .arg(QString::fromLocal8Bit(opt), value));
            return *v;
        };
        if (opt == "--com") {
            // The window lists COM1 to COM16 only.
            a.com = num(0);
            if (a.com < 1 || a.com > 16)
                fail(QStringLiteral("--com: %1 is not a port the window lists (1 to 16)")
                         .arg(a.com));
        } else if (opt == "--boards") {
            a.boards = num(1);
            if (a.boards > 16)
                fail(QStringLiteral("--boards: at most 16"));
        } else if (opt == "--config")
            a.config = QString::fromLocal8Bit(value);
        else if (opt == "--answer-request")
            a.settings.board.answerRequest = num(1);
        else if (opt == "--reply-delay")
            a.settings.board.replyDelayMs = num(0);
        else if (opt == "--block-delay")
            a.settings.board.blockDelayMs = num(0);
        else if (opt == "--baud")
            a.settings.baud = num(1);
        else if (opt == "--idle-reset")
            a.settings.idleResetMs = num(0);
        else if (opt == "--unplug-after")
            a.schedule.unplugAfterMs = num(0);
        else if (opt == "--replug-after")
            a.schedule.replugAfterMs = num(0);
        else if (opt == "--unplug-when-done")
            a.schedule.unplugWhenDoneMs = num(0);
        else if (opt == "--stagger")
            a.schedule.staggerMs = num(0);
        else if (opt == "--cycles")
            a.schedule.cycles = num(1);
        else if (opt == "--save")
            a.save = QString::fromLocal8Bit(value);
        else if (opt == "--expect")
            a.expect = QString::fromLocal8Bit(value);
        else if (opt == "--fault") {
            if (!setFault(value, a.settings.board))
                fail(QStringLiteral("unknown fault \"%1\" (see --help)").arg(value));
        } else if (opt == "--fault-on") {
            const QByteArray v = value;
            const qsizetype eq = v.indexOf('=');
            const auto k = number(v.left(eq).constData());
            VBoard::Options check;
            if (eq < 0 || !k || !setFault(v.mid(eq + 1), check))
                fail(QStringLiteral("--fault-on: \"%1\" is not K=FAULT (see --help)").arg(value));
            a.faultOn.append({*k, v.mid(eq + 1)});
        } else {
            fail(QStringLiteral("unknown option %1 (see --help)").arg(QString::fromLocal8Bit(opt)));
        }
    }
    if (a.boards > 1 && a.com == 0)
        fail(QStringLiteral("--boards needs --com, the first board's COM number"));
    if (a.com + a.boards - 1 > 16)
        fail(QStringLiteral("--boards: COM%1 .. COM%2 goes beyond COM16")
                 .arg(a.com)
                 .arg(a.com + a.boards - 1));
    for (const auto &[k, f] : a.faultOn)
        if (k < a.com || k >= a.com + a.boards)
            fail(QStringLiteral("--fault-on: no board on COM%1").arg(k));
    return a;
}

} // namespace

int main(int argc, char **argv)
{
    const Args args = parse(argc, argv);
    const bool tray = args.boards > 1;

    std::optional<QByteArray> expected;
    if (!args.expect.isEmpty()) {
        QFile f(args.expect);
        if (!f.open(QIODevice::ReadOnly))
            fail(QStringLiteral("cannot read %1: %2").arg(args.expect, f.errorString()));
        expected = f.readAll();
    }
    if (tray && !args.save.isEmpty() && !QDir().mkpath(args.save))
        fail(QStringLiteral("cannot create %1").arg(args.save));

    QList<VBoard::Tray::Slot> sockets;
    for (int i = 0; i < args.boards; ++i) {
        VBoard::Tray::Slot slot{args.com > 0 ? args.com + i : 0, {}, args.settings};
        for (const auto &[k, f] : args.faultOn)
            if (k == slot.com)
                setFault(f, slot.settings.board);
        sockets.append(slot);
    }
    if (args.com > 0) {
        const QString ports =
            (args.config.isEmpty() ? vantrelConfigDir() : args.config) + QStringLiteral("/ports");
        if (!QDir().mkpath(ports))
            fail(QStringLiteral("cannot create %1").arg(ports));
        for (VBoard::Tray::Slot &slot : sockets) {
            slot.link = ports + QStringLiteral("/com%1").arg(slot.com);
            const QFileInfo old(slot.link);
            if (old.exists() && !old.isSymLink())
                fail(QStringLiteral("%1 exists and is not a link; not touching it").arg(slot.link));
        }
    }

    // A test or a station reads these lines through a pipe, as they come.
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    std::mutex outputLock;
    const auto say = [&](int slot, const QString &line) {
        const std::lock_guard<std::mutex> lock(outputLock);
        if (tray)
            std::printf("COM%d: %s\n", sockets[slot].com, qPrintable(line));
        else
            std::printf("vantrel-vboard: %s\n", qPrintable(line));
        std::fflush(stdout);
    };

    // Each board's last image matched the expected one; a board that could not be plugged in.
    std::vector<char> matched(size_t(args.boards), 0);
    bool failed = false;
    VBoard::Tray::Events events;
    events.plugged = [&](int slot, const QString &pts) {
        if (tray)
            say(slot, QStringLiteral("plugged %1").arg(pts));
        else if (args.com > 0)
            say(slot,
                QStringLiteral("COM%1 is %2 (%3)").arg(args.com).arg(pts, sockets[slot].link));
        else
            say(slot, QStringLiteral("board on %1").arg(pts));
    };
    events.unplugged = [&](int slot) { say(slot, QStringLiteral("unplugged")); };
    events.failed = [&](int slot, const QString &error) {
        const std::lock_guard<std::mutex> lock(outputLock);
        failed = true;
        const QString port = tray ? QStringLiteral("COM%1: ").arg(sockets[slot].com) : QString();
        std::fprintf(stderr, "vantrel-vboard: %s%s\n", qPrintable(port), qPrintable(error));
    };
    events.downloaded = [&](int slot, const QByteArray &image, int blocks, int count) {
        say(slot, QStringLiteral("received %1 bytes in %2 blocks").arg(image.size()).arg(blocks));
        if (!args.save.isEmpty()) {
            const QString name = tray ? QStringLiteral("%1/com%2-%3.bin")
                                            .arg(args.save)
                                            .arg(sockets[slot].com)
                                            .arg(count)
                                      : args.save;
            QFile out(name);
            if (!out.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
                out.write(image) != image.size())
                std::fprintf(stderr, "vantrel-vboard: cannot write %s\n", qPrintable(name));
        }
        if (expected) {
            const bool match = image == *expected;
            matched[size_t(slot)] = match;
            const std::lock_guard<std::mutex> lock(outputLock);
            if (tray)
                std::printf("COM%d: %s\n", sockets[slot].com, match ? "MATCH" : "MISMATCH");
            else
                std::printf("%s\n", match ? "MATCH" : "MISMATCH");
            std::fflush(stdout);
        }
    };

    // Pacing wakes up once per byte: ask for wake-ups without the default 50 µs slack. The
    // board threads inherit it.
    prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);

    VBoard::Tray boards(sockets, args.schedule, args.once, events);
    g_tray = &boards;
    struct sigaction sa {
    };
    sa.sa_handler = onSignal;
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
    signal(SIGPIPE, SIG_IGN);

    boards.run();
    g_tray = nullptr;

    if (failed)
        return 1;
    if (!expected)
        return 0;
    return std::all_of(matched.begin(), matched.end(), [](char m) { return m; }) ? 0 : 1;
}
