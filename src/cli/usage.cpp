#include "usage.h"

#include "endings.h"

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
        {QStringLiteral("flash IMAGE --port PORT [--port PORT ...] [options]"),
         QStringLiteral(
             "Downloads IMAGE into the board on PORT, as the Vantrel window does: the same\n"
             "requests, length frame, 1024-byte blocks and time limits. IMAGE is a raw .bin\n"
             "file, taken byte for byte, or a firmware file by its extension: Intel HEX (.hex,\n"
             ".ihx), S-record (.s19, .s28, .s37, .srec, .mot) or ELF (.elf, .axf, .out),\n"
             "sent as the flat image from its lowest address to its highest, gaps filled with\n"
             "0xFF. Rates and the automatic reset default to the window's settings.\n"
             "With several ports (--port more than once, a range COM1-COM8 or --all) every\n"
             "board is flashed at once, each on its own; the end is a table and a summary,\n"
             "and the exit status is 0 only when every board confirmed its download, else\n"
             "10."),
         {
             {QStringLiteral("-p, --port PORT"),
              QStringLiteral("the board's port: COMn as the window numbers it, a device\n"
                             "(/dev/ttyUSB0), a stable link (/dev/serial/by-id/...) or a\n"
                             "range COMa-COMb; repeat it for several boards")},
             {QStringLiteral("--all"),
              QStringLiteral("every port the window lists (COM1 to COM16) that stands for a\n"
                             "device")},
             {QStringLiteral("--base ADDR"),
              QStringLiteral("the image must start at ADDR (0x08004000 or decimal): data\n"
                             "below it is refused, and a gap from ADDR to the lowest data\n"
                             "is sent as 0xFF")},
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
                             "and each step to FILE, with microsecond times; with several\n"
                             "boards, to FILE.PORT for each")},
             {QStringLiteral("-q, --quiet"), QStringLiteral("print nothing but errors")},
         }},
        {QStringLiteral("station IMAGE --port PORT ...|--all|COMa-COMb [options]"),
         QStringLiteral(
             "A flashing station: runs until Ctrl-C (SIGINT) and flashes each board once when\n"
             "it appears on one of the ports: an adapter plugged in, a /dev/serial/by-id link\n"
             "or a link in the ports folder created. A board that goes and comes back is\n"
             "flashed again. Boards present at the start are flashed at once. At the end it\n"
             "prints the boards passed and failed and the boards per hour; the exit status is\n"
             "0 when at least one board was flashed and none failed, else 10. The options of\n"
             "flash apply too."),
         {
             {QStringLiteral("--report FILE"),
              QStringLiteral("append a CSV row for each board to FILE as it ends: time, port,\n"
                             "device, by-id name, USB serial number, image SHA-256, bytes,\n"
                             "outcome, exit code, seconds")},
         }},
        {QStringLiteral("convert IMAGE OUT.bin [--base ADDR] [--json]"),
         QStringLiteral(
             "Writes the flat image that flash would send for IMAGE to OUT.bin: whole or not\n"
             "at all, an existing OUT.bin replaced only when the new one is complete. Exit\n"
             "status 0, 3 when IMAGE is refused, 1 when OUT.bin cannot be written."),
         {
             {QStringLiteral("--base ADDR"),
              QStringLiteral("as for flash: the image starts at ADDR")},
             {QStringLiteral("--json"),
              QStringLiteral("print the start address, span and SHA-256 as one JSON object")},
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
    QList<ExitStatus> list;
    for (const EndingInfo &e : endings()) {
        bool listed = false;
        for (const ExitStatus &s : std::as_const(list))
            listed = listed || s.code == e.exitCode;
        if (!listed)
            list.append({e.exitCode, e.meaning});
    }
    return list;
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
        out += QStringLiteral("  %1  ").arg(e.code, 3) +
               e.meaning.split(u'\n').join(QStringLiteral("\n       ")) + u'\n';
    out += QStringLiteral("\nNothing but 0 means the board confirmed the download.\n");
    return out;
}

QString versionText()
{
    return programName() + QStringLiteral(" (Vantrel) ") + version() + u'\n';
}

namespace
{

// Text for one roff source line: a backslash prints as itself, a dash that starts a word is
// a minus sign (so options can be searched and copied) and a leading '.' or '\'' is not taken
// for a request.
QString roff(const QString &text)
{
    QString out;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i] == u'\\')
            out += QStringLiteral("\\e");
        else if (text[i] == u'-' && (i == 0 || !text[i - 1].isLetterOrNumber()))
            out += QStringLiteral("\\-");
        else
            out += text[i];
    }
    if (out.startsWith(u'.') || out.startsWith(u'\''))
        out.prepend(QStringLiteral("\\&"));
    return out;
}

// A paragraph's lines, one source line each: roff fills them.
QString roffLines(const QString &text)
{
    QString out;
    for (const QString &line : text.split(u'\n'))
        if (!line.trimmed().isEmpty())
            out += roff(line.trimmed()) + u'\n';
    return out;
}

// "-p, --port PORT" as \fB\-p\fR, \fB\-\-port\fR \fIPORT\fR: options bold, values italic.
QString roffOption(const Option &o)
{
    QStringList words;
    for (QString word : o.names.split(u' ', Qt::SkipEmptyParts)) {
        const bool comma = word.endsWith(u',');
        if (comma)
            word.chop(1);
        words << (word.startsWith(u'-') ? QStringLiteral("\\fB") : QStringLiteral("\\fI")) +
                     roff(word) + QStringLiteral("\\fR") +
                     (comma ? QStringLiteral(",") : QString());
    }
    return QStringLiteral(".TP\n") + words.join(u' ') + u'\n' + roffLines(o.description);
}

} // namespace

QString manPage()
{
    const QString name = roff(programName());
    QString out = QStringLiteral(".TH ") + name.toUpper() + QStringLiteral(" 1 \"\" \"Vantrel ") +
                  version() + QStringLiteral("\" \"User Commands\"\n");
    out += QStringLiteral(".SH NAME\n") + name + QStringLiteral(" \\- ") + roff(summary()) + u'\n';
    out += QStringLiteral(".SH SYNOPSIS\n.nf\n");
    const QList<Command> cmds = commands();
    for (const Command &c : cmds)
        out += QStringLiteral("\\fB") + name + QStringLiteral("\\fR ") + roff(c.synopsis) + u'\n';
    out += QStringLiteral("\\fB") + name + QStringLiteral("\\fR \\-\\-help | \\-\\-version\n.fi\n");
    out += QStringLiteral(".SH DESCRIPTION\n\\fB") + name + QStringLiteral("\\fR: ") +
           roff(summary()) + QStringLiteral(".\n");
    out += QStringLiteral(".SH COMMANDS\n");
    for (const Command &c : cmds) {
        out += QStringLiteral(".SS ") + roff(c.synopsis.section(u' ', 0, 0)) + u'\n' +
               QStringLiteral(".B ") + name + u' ' + roff(c.synopsis) + QStringLiteral("\n.PP\n") +
               roffLines(c.description);
        for (const Option &o : c.options)
            out += roffOption(o);
    }
    out += QStringLiteral(".SH OPTIONS\n");
    for (const Option &o : generalOptions())
        out += roffOption(o);
    out += QStringLiteral(".SH PORTS\n") + roffLines(portsHelp());
    out += QStringLiteral(".SH \"EXIT STATUS\"\n");
    for (const ExitStatus &e : exitStatuses())
        out += QStringLiteral(".TP\n.B %1\n").arg(e.code) + roffLines(e.meaning);
    out += QStringLiteral(".PP\nNothing but 0 means the board confirmed the download.\n");
    out += QStringLiteral(".SH \"SEE ALSO\"\n.BR vantrel (1),\n.BR vantrel\\-vboard (1),\n"
                          "/usr/share/doc/vantrel/README.md\n");
    return out;
}

} // namespace Usage
