#include "usage.h"

#include "exitcodes.h"

namespace Usage
{

QString programName()
{
    return QStringLiteral("vantrel-cli");
}

QString version()
{
    return QStringLiteral(VANTREL_VERSION);
}

QString summary()
{
    return QStringLiteral("download firmware into an STM32 board through its serial bootloader");
}

QList<Command> commands()
{
    return {
        {QStringLiteral("flash IMAGE --port PORT [options]"),
         QStringLiteral(
             "Downloads IMAGE, a raw .bin file taken byte for byte, into the board on PORT, as\n"
             "the Vantrel window does: the same requests, length frame, 1024-byte blocks and\n"
             "time limits. Rates and the automatic reset default to the window's settings."),
         {
             {QStringLiteral("-p, --port PORT"),
              QStringLiteral("the board's port: COMn as the window numbers it, a device\n"
                             "(/dev/ttyUSB0) or a stable link (/dev/serial/by-id/...)")},
             {QStringLiteral("-b, --baud N"),
              QStringLiteral("the download baud rate (default: the window's choice)")},
             {QStringLiteral("--auto-reset"),
              QStringLiteral("send the reset request at the reset rate before connecting")},
             {QStringLiteral("--no-auto-reset"),
              QStringLiteral("connect without the reset request")},
             {QStringLiteral("--reset-baud N"),
              QStringLiteral("the reset request's baud rate (default: the window's choice)")},
             {QStringLiteral("--connect-timeout S"),
              QStringLiteral("give up when the board has not answered the download request\n"
                             "within S seconds (default 30)")},
             {QStringLiteral("--done-timeout S"),
              QStringLiteral("give up when the completion reply has not come S seconds after\n"
                             "the last block (default 10)")},
             {QStringLiteral("--json"),
              QStringLiteral("write the run's events to standard output as JSON Lines")},
             {QStringLiteral("--trace FILE"),
              QStringLiteral("write every byte sent and received, each line-settings change\n"
                             "and each step to FILE, with microsecond times")},
             {QStringLiteral("-q, --quiet"), QStringLiteral("print nothing but errors")},
         }},
        {QStringLiteral("ports [--json]"),
         QStringLiteral("Lists COM1 to COM16 as the window sees them: device, stable name, USB\n"
                        "vendor:product and serial number, and whether the port is free, busy\n"
                        "or not permitted. Then lists what stands in the way of flashing on this\n"
                        "system, each finding with its fix."),
         {
             {QStringLiteral("--json"), QStringLiteral("write the list as one JSON object")},
         }},
    };
}

QList<Option> generalOptions()
{
    return {
        {QStringLiteral("-h, --help"), QStringLiteral("show this help and exit")},
        {QStringLiteral("--version"), QStringLiteral("show the version and exit")},
    };
}

QList<ExitStatus> exitStatuses()
{
    return {
        {ExitCode::Success, QStringLiteral("the board confirmed the download")},
        {ExitCode::Failure, QStringLiteral("an unexpected failure of vantrel-cli itself")},
        {ExitCode::Usage, QStringLiteral("the command line is wrong")},
        {ExitCode::ImageRefused, QStringLiteral("the image cannot be downloaded")},
        {ExitCode::PortUnavailable,
         QStringLiteral("the port cannot be opened: missing, busy or not permitted")},
        {ExitCode::NoAnswer, QStringLiteral("the board never answered the download request")},
        {ExitCode::ConnectionFailed,
         QStringLiteral("connection failed: no reply to the length frame")},
        {ExitCode::DownloadFailed, QStringLiteral("download failed: a block went unanswered")},
        {ExitCode::NoCompletion,
         QStringLiteral("every block was taken but no completion reply came")},
        {ExitCode::PortVanished, QStringLiteral("the port went away during the download")},
        {ExitCode::HungUp, QStringLiteral("its terminal closed (SIGHUP)")},
        {ExitCode::Interrupted, QStringLiteral("interrupted by SIGINT (Ctrl-C)")},
        {ExitCode::Terminated, QStringLiteral("terminated by SIGTERM")},
    };
}

QString portsHelp()
{
    return QStringLiteral(
        "COMn stands for what the window lists as COMn: the link <config>/ports/comN when the\n"
        "folder <config>/ports/ exists, otherwise the n-th serial device (USB and ACM adapters\n"
        "first). <config> is $XDG_CONFIG_HOME/vantrel or ~/.config/vantrel, where the window's\n"
        "settings file VANTREL_SET.SB lives.");
}

namespace
{

void appendOption(QString &out, const Option &o)
{
    constexpr int column = 24;
    QString names = QStringLiteral("  ") +
                    (o.names.startsWith(u"--") ? QStringLiteral("    ") : QString()) + o.names;
    const QStringList lines = o.description.split(u'\n');
    if (names.size() + 2 > column) {
        out += names + u'\n';
        names.clear();
    }
    for (int i = 0; i < lines.size(); ++i) {
        out += (i == 0 ? names : QString()).leftJustified(column, u' ') + lines[i] + u'\n';
    }
}

} // namespace

QString helpText()
{
    QString out;
    const QList<Command> cmds = commands();
    out += QStringLiteral("Usage: ");
    for (int i = 0; i < cmds.size(); ++i)
        out += (i ? QStringLiteral("       ") : QString()) + programName() + u' ' +
               cmds[i].synopsis + u'\n';
    out += QStringLiteral("       ") + programName() + QStringLiteral(" --help | --version\n\n");
    out += programName() + QStringLiteral(": ") + summary() + QStringLiteral(".\n");
    for (const Command &c : cmds) {
        out += u'\n' + c.synopsis.section(u' ', 0, 0) + QStringLiteral(":\n");
        for (const QString &line : c.description.split(u'\n'))
            out += QStringLiteral("  ") + line + u'\n';
        out += u'\n';
        for (const Option &o : c.options)
            appendOption(out, o);
    }
    out += QStringLiteral("\nGeneral options:\n");
    for (const Option &o : generalOptions())
        appendOption(out, o);
    out += QStringLiteral("\nPorts:\n");
    for (const QString &line : portsHelp().split(u'\n'))
        out += QStringLiteral("  ") + line + u'\n';
    out += QStringLiteral("\nExit status:\n");
    for (const ExitStatus &e : exitStatuses())
        out += QStringLiteral("  %1  ").arg(e.code, 3) + e.meaning + u'\n';
    out += QStringLiteral("\nNothing but 0 means the board confirmed the download.\n");
    return out;
}

QString versionText()
{
    return programName() + QStringLiteral(" (Vantrel) ") + version() + u'\n';
}

} // namespace Usage
