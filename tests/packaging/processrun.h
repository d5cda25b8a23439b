#pragma once

// Runs an outside tool to the end and keeps what it printed, for the packaging tests.
#include <QByteArray>
#include <QProcess>
#include <QStandardPaths>
#include <QString>
#include <QStringList>

struct ToolRun {
    QString command;
    bool ok = false; // started, finished in time, exit code 0
    int exitCode = -1;
    QByteArray out, err;

    // For failure messages: the command and what it said.
    QByteArray report() const
    {
        return (command + QStringLiteral(" -> exit %1\n").arg(exitCode)).toUtf8() + out + err;
    }
};

inline ToolRun runTool(const QString &program, const QStringList &args, int timeoutMs = 60000,
                       const QProcessEnvironment &env = QProcessEnvironment::systemEnvironment())
{
    ToolRun run;
    run.command = program + QLatin1Char(' ') + args.join(QLatin1Char(' '));
    QProcess p;
    p.setProcessEnvironment(env);
    p.start(program, args);
    if (!p.waitForStarted()) {
        run.err = p.errorString().toUtf8();
        return run;
    }
    if (!p.waitForFinished(timeoutMs)) {
        p.kill();
        p.waitForFinished();
        run.err = "timed out\n" + p.readAllStandardError();
        return run;
    }
    run.out = p.readAllStandardOutput();
    run.err = p.readAllStandardError();
    run.exitCode = p.exitCode();
    run.ok = p.exitStatus() == QProcess::NormalExit && run.exitCode == 0;
    return run;
}

// The tool's full path, or an empty string with a hint in `why` when it is not installed.
inline QString requireTool(const QString &name, const char *package, QByteArray *why)
{
    const QString path = QStandardPaths::findExecutable(name);
    if (path.isEmpty())
        *why = QByteArray(qPrintable(name)) + " not found: install the Debian package " + package +
               " (scripts/install-deps.sh does)";
    return path;
}

inline QList<int> iconSizes()
{
    QList<int> sizes;
    for (const QString &s : QStringLiteral(VANTREL_ICON_SIZES).split(QLatin1Char(',')))
        sizes << s.toInt();
    return sizes;
}
