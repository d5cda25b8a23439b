#include "usage.h"

#include "cliargs.h"
#include "endings.h"
#include "runtext.h"

#include <cstdio>

namespace Usage
{

namespace
{

struct Option {
    QString names;       // "-p, --port PORT"
    QString description; // may span several lines, joined by '\n'
};

struct Command {
    QString synopsis;    // "flash IMAGE --port PORT [--port PORT ...] [options]"
    QString description; // what it does
    QList<Option> options;
};

// The options listed under a command (None: the general options), as the help names them.
QList<Option> optionsListedUnder(CliArgs::Command command)
{
    QList<Option> list;
    for (const CliOption &o : cliOptions()) {
        QString names = o.shortName.isNull()
                            ? o.name
                            : QStringLiteral("-%1, %2").arg(QString(o.shortName), o.name);
        if (!o.valueName.isEmpty())
            names += u' ' + o.valueName;
        for (const CliOption::Help &h : o.help)
            if (h.command == command)
                list.append({names, h.text});
    }
    return list;
}

QList<Command> commands()
{
    QList<Command> list;
    for (const CliCommand &c : cliCommands())
        list.append({c.name + u' ' + c.arguments, c.description, optionsListedUnder(c.command)});
    return list;
}

// How PORT may be written.
QString portsHelp()
{
    return QStringLiteral(
        "COMn stands for what the window lists as COMn: the link <config>/ports/comN when the\n"
        "folder <config>/ports/ exists, otherwise the n-th serial device (USB and ACM adapters\n"
        "first). <config> is $XDG_CONFIG_HOME/vantrel or ~/.config/vantrel, where the window's\n"
        "settings file VANTREL_SET.SB lives. Other programs' UUCP lock files (LCK..ttyUSB0) are\n"
        "looked for in /run/lock, or in $VANTREL_LOCK_DIR when it is set.");
}

} // namespace

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
    for (const Option &o : optionsListedUnder(CliArgs::Command::None))
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
    for (const Option &o : optionsListedUnder(CliArgs::Command::None))
        out += roffOption(o);
    out += QStringLiteral(".SH PORTS\n") + roffLines(portsHelp());
    out += QStringLiteral(".SH \"EXIT STATUS\"\n");
    for (const ExitStatus &e : exitStatuses())
        out += QStringLiteral(".TP\n.B %1\n").arg(e.code) + roffLines(e.meaning);
    out += QStringLiteral(".PP\nNothing but 0 means the board confirmed the download.\n");
    out += QStringLiteral(".SH FILES\n.TP\n.I ") + roff(docFile(QStringLiteral("protocol.md"))) +
           QStringLiteral("\nWhat the board's bootloader must answer: every frame and reply byte "
                          "by byte, the blocks, the length field and the time limits. It is not "
                          "the STM32's built\\-in ROM bootloader.\n.TP\n.I ") +
           roff(docFile(QStringLiteral("cli-json.md"))) +
           QStringLiteral("\nThe JSON Lines that \\fB\\-\\-json\\fR writes: every event and "
                          "key.\n");
    out += QStringLiteral(".SH \"SEE ALSO\"\n.BR vantrel (1),\n.BR vantrel\\-vboard (1),\n") +
           roff(docFile(QStringLiteral("README.md"))) + u'\n';
    return out;
}

void printError(const QString &message, FILE *to)
{
    std::fprintf(to, "%s: %s\n", qPrintable(programName()), message.toUtf8().constData());
    std::fflush(to);
}

} // namespace Usage
