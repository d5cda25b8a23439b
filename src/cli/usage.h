#pragma once

#include <QList>
#include <QString>

#include <cstdio>

// How the command line is documented: the help text and the manual page are laid out here from
// the tables of commands and options that the parser reads (cliargs.h), so that they can never
// disagree.
namespace Usage
{

struct ExitStatus {
    int code;
    QString meaning;
};

QString programName();
QString version();
QString summary(); // one line: what the program is

QList<ExitStatus> exitStatuses();

// The whole --help text.
QString helpText();
// The --version text.
QString versionText();
// The vantrel-cli(1) manual page, in roff: the same tables as the help text, laid out as a
// manual page.
QString manPage();

// "vantrel-cli: MESSAGE" and a line end on standard error.
void printError(const QString &message, FILE *to = stderr);

} // namespace Usage
