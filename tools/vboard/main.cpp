// vantrel-vboard: a virtual target board for trying Vantrel without hardware.
#include "configdir.h"
#include "ptyboard.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QString>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <sys/prctl.h>

namespace
{

const char usage[] = R"(Usage: vantrel-vboard [options]

Plays an STM32 board's serial bootloader on a pseudo-terminal, so that Vantrel can download
an image without hardware: it answers the download request, the length frame and every
block as a real board does, and can keep, compare or refuse what it receives.

Options:
  --com N             link <config>/ports/comN to the board's terminal, so that Vantrel lists
                      it as COMN (N from 1 to 16, the ports the window lists). This creates
                      the folder ports/ when missing. NOTE: while <config>/ports/ exists,
                      Vantrel's COM numbers stand only for the links in it, not for the
                      system's serial devices; remove the folder to go back.
  --config DIR        Vantrel's config folder (default $XDG_CONFIG_HOME/vantrel, or
                      ~/.config/vantrel)
  --auto-reset-only   answer download requests only after a reset request
  --answer-request K  answer the K-th download request (default 1)
  --fault F           never-a | never-b | silent-after=K (acknowledge K blocks, then nothing)
                      | never-d | stray-byte (one byte 00 before the first reply B)
                      | split-replies (each reply in two writes, 1 ms apart)
  --reply-delay MS    wait before answering the request and the length frame (default 2)
  --block-delay MS    wait before answering each block (default 0)
  --baud RATE         pace the line at RATE baud, 10 bits per byte both ways (default: as
                      fast as the terminal goes)
  --idle-reset MS     give up a download the host left this long (default 1000, 0: never)
  --save FILE         write each image received to FILE
  --expect FILE       compare each image received with FILE and print MATCH or MISMATCH; the
                      exit status is 0 when the last image matched, 1 otherwise
  --once              exit after one complete download
  -h, --help          show this help

Example:
  vantrel-vboard --com 1 --expect firmware.bin --once
  then start Vantrel, choose COM1, load firmware.bin and click 单次下载.
)";

PtyBoard *g_board = nullptr;

void onSignal(int)
{
    if (g_board)
        g_board->stop();
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

struct Args {
    PtyBoard::Settings settings;
    int com = 0;
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
        else if (opt == "--save")
            a.save = QString::fromLocal8Bit(value);
        else if (opt == "--expect")
            a.expect = QString::fromLocal8Bit(value);
        else if (opt == "--fault") {
            const QByteArray f = value;
            using VBoard::Fault;
            Fault &fault = a.settings.board.fault;
            if (f == "never-a")
                fault = Fault::NeverA;
            else if (f == "never-b")
                fault = Fault::NeverB;
            else if (f == "never-d")
                fault = Fault::NeverD;
            else if (f == "stray-byte")
                fault = Fault::StrayByte;
            else if (f == "split-replies")
                fault = Fault::SplitReplies;
            else if (f.startsWith("silent-after=")) {
                fault = Fault::SilentAfter;
                const auto k = number(f.constData() + 13);
                if (!k)
                    fail(QStringLiteral("--fault silent-after=K needs a number"));
                a.settings.board.silentAfter = *k;
            } else {
                fail(QStringLiteral("unknown fault \"%1\" (see --help)").arg(value));
            }
        } else {
            fail(QStringLiteral("unknown option %1 (see --help)").arg(QString::fromLocal8Bit(opt)));
        }
    }
    return a;
}

} // namespace

int main(int argc, char **argv)
{
    Args args = parse(argc, argv);

    std::optional<QByteArray> expected;
    if (!args.expect.isEmpty()) {
        QFile f(args.expect);
        if (!f.open(QIODevice::ReadOnly))
            fail(QStringLiteral("cannot read %1: %2").arg(args.expect, f.errorString()));
        expected = f.readAll();
    }

    // Pacing wakes up once per byte: ask for wake-ups without the default 50 µs slack.
    prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);

    PtyBoard board(args.settings);
    QString error;
    if (!board.open(&error))
        fail(QStringLiteral("cannot open a pseudo-terminal: %1").arg(error));

    QString link;
    if (args.com > 0) {
        const QString ports =
            (args.config.isEmpty() ? vantrelConfigDir() : args.config) + QStringLiteral("/ports");
        if (!QDir().mkpath(ports))
            fail(QStringLiteral("cannot create %1").arg(ports));
        link = ports + QStringLiteral("/com%1").arg(args.com);
        const QFileInfo old(link);
        if (old.isSymLink() || old.exists()) {
            if (!old.isSymLink())
                fail(QStringLiteral("%1 exists and is not a link; not touching it").arg(link));
            QFile::remove(link);
        }
        if (!QFile::link(board.slavePath(), link))
            fail(QStringLiteral("cannot link %1 to %2").arg(link, board.slavePath()));
        std::printf("vantrel-vboard: COM%d is %s (%s)\n", args.com, qPrintable(board.slavePath()),
                    qPrintable(link));
    } else {
        std::printf("vantrel-vboard: board on %s\n", qPrintable(board.slavePath()));
    }
    std::fflush(stdout);

    int status = expected ? 1 : 0;
    board.onDownload = [&](const QByteArray &image) {
        std::printf("vantrel-vboard: received %lld bytes in %d blocks\n",
                    static_cast<long long>(image.size()), board.board().blocksReceived());
        if (!args.save.isEmpty()) {
            QFile out(args.save);
            if (!out.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
                out.write(image) != image.size())
                std::fprintf(stderr, "vantrel-vboard: cannot write %s\n", qPrintable(args.save));
        }
        if (expected) {
            const bool match = image == *expected;
            std::printf("%s\n", match ? "MATCH" : "MISMATCH");
            status = match ? 0 : 1;
        }
        std::fflush(stdout);
    };

    g_board = &board;
    struct sigaction sa {
    };
    sa.sa_handler = onSignal;
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
    signal(SIGPIPE, SIG_IGN);

    board.run(args.once);
    g_board = nullptr;

    // Leave the port map as it was, unless someone has relinked the name meanwhile.
    if (!link.isEmpty() && QFileInfo(link).symLinkTarget() == board.slavePath())
        QFile::remove(link);
    return status;
}
