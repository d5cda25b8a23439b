// vantrel-vboard: a virtual target board for trying Vantrel without hardware.
#include "configdir.h"
#include "portname.h"
#include "standardfiles.h"
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

// %1 and %2: the first and the last port the window lists; %3: the most boards.
const char usage[] = R"(Usage: vantrel-vboard [options]

Plays an STM32 board's serial bootloader on a pseudo-terminal, so that Vantrel can download
an image without hardware: it answers the download request, the length frame and every
block as a real board does, and can keep, compare or refuse what it receives. It can also
play a tray of boards, each on its own COM number and terminal, plugged in and pulled out on
a schedule.

Options:
  --com N             link <config>/ports/comN to the board's terminal, so that Vantrel lists
                      it as COMN (N from %1 to %2, the ports the window lists). This creates
                      the folder ports/ when missing. NOTE: while <config>/ports/ exists,
                      Vantrel's COM numbers stand only for the links in it, not for the
                      system's serial devices; remove the folder to go back. A link
                      that leads to a live terminal (another board's) is not taken over:
                      the exit status is then 1.
  --boards N          play N boards (1 to %3) on COMN .. COMN+N-1 of --com, all within %1 to
                      %2, each with its own terminal and link; every line printed then starts
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
  --version           show the version

It runs until SIGINT or SIGTERM, --once is met, or no board is left to plug in; then it
removes the links it made. Exit status 2: the command line is wrong.

Examples:
  vantrel-vboard --com 1 --expect firmware.bin --once
  then start Vantrel, choose COM1, load firmware.bin and click 单次下载.
  vantrel-vboard --com 1 --boards 8 --fault-on 3=vanish-after=32 --baud 115200
  vantrel-vboard --com 1 --boards 4 --unplug-when-done 200 --replug-after 1000
)";

const char programName[] = "vantrel-vboard";
// As many boards as the window lists ports.
constexpr int maxBoards = lastListedCom - firstCom + 1;

std::atomic<VBoard::Tray *> g_tray = nullptr;

void onSignal(int)
{
    if (VBoard::Tray *tray = g_tray.load())
        tray->stop();
}

// "vantrel-vboard: MESSAGE" on standard error.
void complain(const QString &message)
{
    std::fprintf(stderr, "%s: %s\n", programName, qPrintable(message));
}

[[noreturn]] void fail(const QString &message)
{
    complain(message);
    std::exit(2);
}

[[noreturn]] void showVersion()
{
    std::printf("%s (Vantrel) %s\n", programName, VANTREL_VERSION);
    std::exit(0);
}

[[noreturn]] void showHelp()
{
    const QString text = QString::fromUtf8(usage).arg(
        QString::number(firstCom), QString::number(lastListedCom), QString::number(maxBoards));
    std::fputs(text.toUtf8().constData(), stdout);
    std::exit(0);
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

// The options that take a plain number, at least `min`.
const struct {
    const char *name;
    int min;
    int &(*field)(Args &);
} numberOptions[] = {
    {"--answer-request", 1, [](Args &a) -> int & { return a.settings.board.answerRequest; }},
    {"--reply-delay", 0, [](Args &a) -> int & { return a.settings.board.replyDelayMs; }},
    {"--block-delay", 0, [](Args &a) -> int & { return a.settings.board.blockDelayMs; }},
    {"--baud", 1, [](Args &a) -> int & { return a.settings.baud; }},
    {"--idle-reset", 0, [](Args &a) -> int & { return a.settings.idleResetMs; }},
    {"--unplug-after", 0, [](Args &a) -> int & { return a.schedule.unplugAfterMs; }},
    {"--replug-after", 0, [](Args &a) -> int & { return a.schedule.replugAfterMs; }},
    {"--unplug-when-done", 0, [](Args &a) -> int & { return a.schedule.unplugWhenDoneMs; }},
    {"--stagger", 0, [](Args &a) -> int & { return a.schedule.staggerMs; }},
    {"--cycles", 1, [](Args &a) -> int & { return a.schedule.cycles; }},
};

// The options that take a file or folder name.
const struct {
    const char *name;
    QString Args::*field;
} pathOptions[] = {
    {"--config", &Args::config}, {"--save", &Args::save}, {"--expect", &Args::expect}};

int numberValue(const QByteArray &opt, const char *value, int min)
{
    const auto v = number(value);
    if (!v || *v < min)
        fail(QStringLiteral("%1: bad number \"%2\"").arg(QString::fromLocal8Bit(opt), value));
    return *v;
}

// "K=FAULT" of --fault-on, for the board on COMK.
QPair<int, QByteArray> faultOn(const QByteArray &value)
{
    const qsizetype eq = value.indexOf('=');
    const auto k = number(value.left(eq).constData());
    VBoard::Options check;
    if (eq < 0 || !k || !setFault(value.mid(eq + 1), check))
        fail(QStringLiteral("--fault-on: \"%1\" is not K=FAULT (see --help)")
                 .arg(QString::fromUtf8(value)));
    return {*k, value.mid(eq + 1)};
}

// Reads an option that takes a value; false when there is no such option.
bool readValueOption(const QByteArray &opt, const char *value, Args &a)
{
    for (const auto &o : numberOptions)
        if (opt == o.name) {
            o.field(a) = numberValue(opt, value, o.min);
            return true;
        }
    for (const auto &o : pathOptions)
        if (opt == o.name) {
            a.*o.field = QString::fromLocal8Bit(value);
            return true;
        }
    if (opt == "--com") {
        a.com = numberValue(opt, value, 0);
        if (a.com < firstCom || a.com > lastListedCom)
            fail(QStringLiteral("--com: %1 is not a port the window lists (%2 to %3)")
                     .arg(QString::number(a.com), QString::number(firstCom),
                          QString::number(lastListedCom)));
    } else if (opt == "--boards") {
        a.boards = numberValue(opt, value, 1);
        if (a.boards > maxBoards)
            fail(QStringLiteral("--boards: at most %1").arg(maxBoards));
    } else if (opt == "--fault") {
        if (!setFault(value, a.settings.board))
            fail(QStringLiteral("unknown fault \"%1\" (see --help)").arg(value));
    } else if (opt == "--fault-on") {
        a.faultOn.append(faultOn(value));
    } else {
        return false;
    }
    return true;
}

// The boards' COM numbers: all of them listed by the window, each fault on one of them.
void checkPorts(const Args &a)
{
    if (a.boards > 1 && a.com == 0)
        fail(QStringLiteral("--boards needs --com, the first board's COM number"));
    if (a.com + a.boards - 1 > lastListedCom)
        fail(QStringLiteral("--boards: %1 .. %2 goes beyond %3")
                 .arg(comName(a.com), comName(a.com + a.boards - 1), comName(lastListedCom)));
    for (const auto &[k, f] : a.faultOn)
        if (k < a.com || k >= a.com + a.boards)
            fail(QStringLiteral("--fault-on: no board on %1").arg(comName(k)));
}

Args parse(int argc, char **argv)
{
    Args a;
    for (int i = 1; i < argc; ++i) {
        const QByteArray opt = argv[i];
        if (opt == "-h" || opt == "--help")
            showHelp();
        if (opt == "--version")
            showVersion();
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
        if (!readValueOption(opt, argv[++i], a))
            fail(QStringLiteral("unknown option %1 (see --help)").arg(QString::fromLocal8Bit(opt)));
    }
    checkPorts(a);
    return a;
}

std::optional<QByteArray> readExpected(const Args &args)
{
    if (args.expect.isEmpty())
        return std::nullopt;
    QFile f(args.expect);
    if (!f.open(QIODevice::ReadOnly))
        fail(QStringLiteral("cannot read %1: %2").arg(args.expect, f.errorString()));
    return f.readAll();
}

// One slot for each board, with its fault and its link (none without --com).
QList<VBoard::Tray::Slot> makeSlots(const Args &args)
{
    QList<VBoard::Tray::Slot> sockets;
    for (int i = 0; i < args.boards; ++i) {
        VBoard::Tray::Slot slot{args.com > 0 ? args.com + i : 0, {}, args.settings};
        for (const auto &[k, f] : args.faultOn)
            if (k == slot.com)
                setFault(f, slot.settings.board);
        sockets.append(slot);
    }
    if (args.com == 0)
        return sockets;
    const QString ports = portsFolder(args.config.isEmpty() ? vantrelConfigDir() : args.config);
    if (!QDir().mkpath(ports))
        fail(QStringLiteral("cannot create %1").arg(ports));
    for (VBoard::Tray::Slot &slot : sockets) {
        slot.link = comLinkPath(ports, slot.com);
        const QFileInfo old(slot.link);
        if (old.exists() && !old.isSymLink())
            fail(QStringLiteral("%1 exists and is not a link; not touching it").arg(slot.link));
        if (old.isSymLink() && old.exists()) { // a live terminal: another board holds the name
            complain(QStringLiteral("%1 is taken: %2 leads to %3, which is open; stop the board "
                                    "that holds it, or remove the link, or choose another --com")
                         .arg(comName(slot.com), slot.link, old.symLinkTarget()));
            std::exit(1);
        }
    }
    return sockets;
}

// What the boards do, as lines on standard output (errors on standard error), and what the
// exit status is made of. Called on the boards' threads.
class Console
{
public:
    Console(const Args &args, const QList<VBoard::Tray::Slot> &sockets,
            std::optional<QByteArray> expected)
        : m_args(args), m_sockets(sockets), m_expected(std::move(expected)),
          m_matched(size_t(args.boards), 0)
    {
    }

    VBoard::Tray::Events events()
    {
        VBoard::Tray::Events e;
        e.plugged = [this](int slot, const QString &pts) { plugged(slot, pts); };
        e.unplugged = [this](int slot) { say(slot, QStringLiteral("unplugged")); };
        e.failed = [this](int slot, const QString &error) { failed(slot, error); };
        e.downloaded = [this](int slot, const QByteArray &image, int blocks, int count) {
            downloaded(slot, image, blocks, count);
        };
        return e;
    }

    // 1 when a board could not be plugged in, or when an image was expected and a board's
    // last one did not match; else 0.
    int exitStatus() const
    {
        if (m_failed)
            return 1;
        if (!m_expected)
            return 0;
        return std::all_of(m_matched.begin(), m_matched.end(), [](char m) { return m; }) ? 0 : 1;
    }

private:
    bool tray() const { return m_args.boards > 1; }
    // "COM3: " before each line of a tray's board.
    QString portPrefix(int slot) const
    {
        return tray() ? comName(m_sockets[slot].com) + QStringLiteral(": ") : QString();
    }

    void say(int slot, const QString &line)
    {
        const std::lock_guard<std::mutex> lock(m_outputLock);
        const QString prefix = tray() ? portPrefix(slot) : programName + QStringLiteral(": ");
        std::printf("%s%s\n", qPrintable(prefix), qPrintable(line));
        std::fflush(stdout);
    }

    void plugged(int slot, const QString &pts)
    {
        if (tray())
            say(slot, QStringLiteral("plugged %1").arg(pts));
        else if (m_args.com > 0)
            say(slot, QStringLiteral("%1 is %2 (%3)")
                          .arg(comName(m_args.com), pts, m_sockets[slot].link));
        else
            say(slot, QStringLiteral("board on %1").arg(pts));
    }

    void failed(int slot, const QString &error)
    {
        const std::lock_guard<std::mutex> lock(m_outputLock);
        m_failed = true;
        complain(portPrefix(slot) + error);
    }

    void downloaded(int slot, const QByteArray &image, int blocks, int count)
    {
        say(slot, QStringLiteral("received %1 bytes in %2 blocks").arg(image.size()).arg(blocks));
        if (!m_args.save.isEmpty())
            save(slot, image, count);
        if (!m_expected)
            return;
        const bool match = image == *m_expected;
        m_matched[size_t(slot)] = match;
        const std::lock_guard<std::mutex> lock(m_outputLock);
        std::printf("%s%s\n", qPrintable(portPrefix(slot)), match ? "MATCH" : "MISMATCH");
        std::fflush(stdout);
    }

    // To --save: the file itself, or in a tray comK-N.bin in the folder.
    void save(int slot, const QByteArray &image, int count)
    {
        const QString name = tray() ? comLinkPath(m_args.save, m_sockets[slot].com) +
                                          QStringLiteral("-%1.bin").arg(count)
                                    : m_args.save;
        QFile out(name);
        if (!out.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
            out.write(image) != image.size())
            complain(QStringLiteral("cannot write %1").arg(name));
    }

    const Args &m_args;
    const QList<VBoard::Tray::Slot> &m_sockets;
    const std::optional<QByteArray> m_expected;
    std::mutex m_outputLock;
    std::vector<char> m_matched; // each board's last image matched the expected one
    bool m_failed = false;       // a board could not be plugged in
};

// Plays the boards until they are done or SIGINT or SIGTERM stops them.
void play(VBoard::Tray &boards)
{
    g_tray = &boards;
    struct sigaction sa {
    };
    sa.sa_handler = onSignal;
    for (int s : {SIGINT, SIGTERM}) {
        struct sigaction before {
        };
        sigaction(s, nullptr, &before);
        if (before.sa_handler != SIG_IGN) // ignored by whoever started us: it stays so
            sigaction(s, &sa, nullptr);
    }
    signal(SIGPIPE, SIG_IGN);
    boards.run();
    g_tray = nullptr;
}

} // namespace

int main(int argc, char **argv)
{
    // Before any file is opened: a closed 0, 1 or 2 must not be taken by one.
    openMissingStandardFiles();
    const Args args = parse(argc, argv);
    const std::optional<QByteArray> expected = readExpected(args);
    if (args.boards > 1 && !args.save.isEmpty() && !QDir().mkpath(args.save))
        fail(QStringLiteral("cannot create %1").arg(args.save));
    const QList<VBoard::Tray::Slot> sockets = makeSlots(args);

    // A test or a station reads these lines through a pipe, as they come.
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    Console console(args, sockets, expected);

    // Pacing wakes up once per byte: ask for wake-ups without the default 50 µs slack. The
    // board threads inherit it.
    prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);

    VBoard::Tray boards(sockets, args.schedule, args.once, console.events());
    play(boards);
    return console.exitStatus();
}
