#pragma once

#include <QList>
#include <QString>

// What the command line offers, written once: the help text is made from these tables (and so
// is anything else that documents the commands), so the two can never disagree.
namespace Usage
{

struct Option {
    QString names;       // "-p, --port PORT"
    QString description; // may span several lines, joined by '\n'
};

struct Command {
    QString synopsis;    // "flash IMAGE --port PORT [options]"
    QString description; // what it does
    QList<Option> options;
};

struct ExitStatus {
    int code;
    QString meaning;
};

QString programName();
QString version();
QString summary(); // one line: what the program is

QList<Command> commands();
QList<Option> generalOptions();
QList<ExitStatus> exitStatuses();
QString portsHelp(); // how PORT may be written

// The whole --help text.
QString helpText();
// The --version text.
QString versionText();
// The vantrel-cli(1) manual page, in roff: the same tables as the help text, laid out as a
// manual page.
QString manPage();

} // namespace Usage
