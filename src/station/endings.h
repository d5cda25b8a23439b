#pragma once

#include <QList>
#include <QString>

// Every way a vantrel-cli command ends: the exit status that scripts rely on (these numbers never
// change meaning), the token of its JSON end object, what --help and the manual page say of it,
// and the message a run that ends so prints. Nothing but Success is 0, and a run only ends in
// Success when the board sent its completion reply.
enum class Ending {
    Success,
    Failure,
    Usage,
    ImageRefused,
    PortUnavailable,
    NoAnswer,
    ConnectionFailed,
    DownloadFailed,
    NoCompletion,
    PortVanished,
    SomeBoardsFailed,
    ReportRowLost,
    HungUp,
    Interrupted,
    Terminated,
};

struct EndingInfo {
    Ending ending;
    int exitCode;
    QString token;   // the "outcome" of the JSON end object; "" where no single run ends so
    QString meaning; // for the exit-status list of --help and the manual page
    // The message of a run that ends so, with %1, %2 ... for the facts it names; "" where the
    // caller words it.
    QString message;
};

// The whole table, in the order of the exit statuses.
const QList<EndingInfo> &endings();
const EndingInfo &infoOf(Ending ending);
inline int exitCodeOf(Ending ending)
{
    return infoOf(ending).exitCode;
}
// SIGINT is an interruption, SIGHUP a hang-up, anything else a termination.
Ending endingForSignal(int signalNumber);
