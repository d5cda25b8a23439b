#include "endings.h"

#include <QtGlobal>

#include <csignal>

const QList<EndingInfo> &endings()
{
    static const QList<EndingInfo> table{
        {Ending::Success, 0, QStringLiteral("success"),
         QStringLiteral("the board confirmed the download"),
         QStringLiteral("download complete: the board confirmed all %1")},
        {Ending::Failure, 1, QStringLiteral("failure"),
         QStringLiteral("its output could not be written, or an unexpected failure of\n"
                        "vantrel-cli itself"),
         QString()},
        {Ending::Usage, 2, QStringLiteral("usage"), QStringLiteral("the command line is wrong"),
         QString()},
        {Ending::ImageRefused, 3, QStringLiteral("image_refused"),
         QStringLiteral("the image cannot be downloaded"), QString()},
        {Ending::PortUnavailable, 4, QStringLiteral("port_unavailable"),
         QStringLiteral("the port cannot be opened: missing, busy or not permitted"), QString()},
        {Ending::NoAnswer, 5, QStringLiteral("no_answer"),
         QStringLiteral("the board never answered the download request"),
         QStringLiteral("the board did not answer the download request within %1 s; is it in "
                        "its bootloader, and is the rate right? (Not the STM32's built-in ROM "
                        "bootloader, which syncs with 0x7F: the board needs the one %2 "
                        "describes.)")},
        {Ending::ConnectionFailed, 6, QStringLiteral("connection_failed"),
         QStringLiteral("connection failed: no reply to the length frame"),
         QStringLiteral("connection failed: the board answered the request but not the length "
                        "frame; check the hardware connection")},
        {Ending::DownloadFailed, 7, QStringLiteral("download_failed"),
         QStringLiteral("download failed: a block went unanswered"),
         QStringLiteral("download failed: block %1 (counted from 0, of %2) went unanswered; "
                        "check the hardware connection")},
        {Ending::NoCompletion, 8, QStringLiteral("no_completion"),
         QStringLiteral("every block was taken but no completion reply came"),
         QStringLiteral("the board took every block but sent no completion reply within %1 s")},
        {Ending::PortVanished, 9, QStringLiteral("port_vanished"),
         QStringLiteral("the port went away during the download"),
         QStringLiteral("the port went away during the download (adapter unplugged?)")},
        {Ending::SomeBoardsFailed, 10, QString(),
         QStringLiteral("several boards: not every one confirmed its download (see each\n"
                        "board's own status in the table or its JSON end object)"),
         QString()},
        {Ending::ReportRowLost, 11, QString(),
         QStringLiteral("station: a row of the --report file could not be written (a full\n"
                        "disk, say); the station went on flashing and said which row was lost"),
         QStringLiteral("the report %1 lost the row of %2 (%3, exit status %4): %5")},
        {Ending::HungUp, 128 + SIGHUP, QStringLiteral("terminated"),
         QStringLiteral("its terminal closed (SIGHUP)"),
         QStringLiteral("terminated by signal %1: the download was stopped")},
        {Ending::Interrupted, 128 + SIGINT, QStringLiteral("interrupted"),
         QStringLiteral("interrupted by SIGINT (Ctrl-C); with several boards, only when some\n"
                        "board had not succeeded"),
         QStringLiteral("interrupted: the download was stopped")},
        {Ending::Terminated, 128 + SIGTERM, QStringLiteral("terminated"),
         QStringLiteral("terminated by SIGTERM"),
         QStringLiteral("terminated by signal %1: the download was stopped")},
    };
    return table;
}

const EndingInfo &infoOf(Ending ending)
{
    for (const EndingInfo &info : endings())
        if (info.ending == ending)
            return info;
    Q_UNREACHABLE();
}

Ending endingForSignal(int signalNumber)
{
    switch (signalNumber) {
    case SIGINT:
        return Ending::Interrupted;
    case SIGHUP:
        return Ending::HungUp;
    default:
        return Ending::Terminated;
    }
}
