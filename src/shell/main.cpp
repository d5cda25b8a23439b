#include "application.h"
#include "clock.h"
#include "configdir.h"
#include "eventpump.h"
#include "mainwindow.h"
#include "platform.h"
#include "qtdialogs.h"
#include "qtserialport.h"
#include "quitsignals.h"
#include "standardfiles.h"
#include "tone.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    // Before any file is opened: a closed 0, 1 or 2 must not be taken by one.
    openMissingStandardFiles();
    QuitSignals::install();
    QApplication app(argc, argv);
    prepareApplication();
    // Installed before the window exists, so no signal can end the program with a port open.
    QuitSignals quitSignals;

    AlsaTone tone;
    SteadyClock clock;
    QtEventPump pump;
    QtDialogs dialogs;
    Platform platform{tone, clock, pump};
    QtSerialPort port;

    MainWindow form(platform, dialogs, port, vantrelConfigDir());
    // Ended from outside: as the exit button, without its beep. The window's close releases
    // the port and its lock; the status tells which signal it was.
    int ended = 0;
    QObject::connect(&quitSignals, &QuitSignals::received, &form, [&](int signalNumber) {
        ended = QuitSignals::exitCodeFor(signalNumber);
        form.close();
        QCoreApplication::exit(ended);
    });
    form.startUp(); // its preview build runs events: a signal may already arrive there
    if (ended)
        return ended;
    form.show();
    return app.exec();
}
