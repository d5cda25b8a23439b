#pragma once

#include "linkedboard.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>

#include <csignal>

// vantrel-cli (CLI_PATH) as its own process, while the test's events (its boards) run.
struct CliProcess {
    // `prepare` sets the process up before it starts (its files, its child's own set-up, even
    // the program that starts it).
    explicit CliProcess(const QStringList &args,
                        const std::function<void(QProcess &)> &prepare = {})
    {
        p.setProgram(QStringLiteral(CLI_PATH));
        p.setArguments(args);
        if (prepare)
            prepare(p);
        p.start();
    }
    // Runs events until the program ends, at most 30 s, calling `each` on every round; returns
    // its exit status, -1 when it did not exit by itself in time.
    int finish(const std::function<void()> &each = {})
    {
        waitUntil(
            [&] {
                if (each)
                    each();
                return p.state() == QProcess::NotRunning;
            },
            30000);
        out += p.readAllStandardOutput();
        err += p.readAllStandardError();
        return p.state() == QProcess::NotRunning && p.exitStatus() == QProcess::NormalExit
                   ? p.exitCode()
                   : -1;
    }
    void signal(int number) { ::kill(pid_t(p.processId()), number); }
    // Its JSON Lines, one object each.
    QList<QJsonObject> events() const
    {
        QList<QJsonObject> list;
        for (const QByteArray &line : out.trimmed().split('\n'))
            list << QJsonDocument::fromJson(line).object();
        return list;
    }

    QProcess p;
    QByteArray out, err;
};
