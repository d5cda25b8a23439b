// vantrel-station: the bench window that flashes each board plugged into a watched port.
#include "configdir.h"
#include "icon.h"
#include "quitsignals.h"
#include "standardfiles.h"
#include "stationargs.h"
#include "stationtexts.h"
#include "stationwindow.h"
#include "tone.h"

#include <QApplication>

#include <cstdio>

namespace
{

constexpr int usageStatus = 2;

int usageError(const QString &message)
{
    std::fprintf(stderr,
                 "vantrel-station: %s\nTry 'vantrel-station --help' for more information.\n",
                 message.toUtf8().constData());
    return usageStatus;
}

} // namespace

int main(int argc, char *argv[])
{
    // Before any file is opened: a closed 0, 1 or 2 must not be taken by one.
    openMissingStandardFiles();
    QStringList arguments;
    for (int i = 1; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    // Read before the window system is: --help needs no display.
    const StationArgs args = readStationArgs(arguments);
    if (!args.error.isEmpty())
        return usageError(args.error);
    if (args.help || args.version) {
        std::fputs((args.help ? stationHelpText() : stationVersionText()).toUtf8().constData(),
                   stdout);
        return std::fflush(stdout) == 0 ? 0 : 1;
    }
    QuitSignals::install();
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("vantrel-station"));
    QApplication::setDesktopFileName(QStringLiteral("vantrel-station")); // its desktop entry
    QApplication::setWindowIcon(vantrelStationIcon());
    installStationTranslation(app); // English for an English locale
    QuitSignals quitSignals;
    AlsaTone tone;
    StationWindow window(tone, vantrelConfigDir(), args.ports);
    if (QString why; !args.reportPath.isEmpty() && !window.openReport(args.reportPath, &why))
        return usageError(QStringLiteral("--report: ") + why);
    // Ended from outside: as closing the window, which stops the runs and releases the ports.
    int ended = 0;
    QObject::connect(&quitSignals, &QuitSignals::received, &window, [&](int signalNumber) {
        ended = QuitSignals::exitCodeFor(signalNumber);
        window.close();
    });
    window.show();
    // A refused image is told in the window, where another can be loaded.
    if (!args.image.isEmpty() && window.loadImage(args.image))
        window.startStation();
    const int status = app.exec();
    return ended ? ended : status;
}
