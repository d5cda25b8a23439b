#include "clock.h"
#include "configdir.h"
#include "qtdialogs.h"
#include "eventpump.h"
#include "fonts.h"
#include "form1.h"
#include "platform.h"
#include "portmap.h"
#include "qtserialcomponent.h"
#include "tone.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("vantrel"));
    QApplication::setApplicationDisplayName(QStringLiteral("Vantrel"));
    QApplication::setDesktopFileName(QStringLiteral("vantrel"));
    installFontSubstitutions();

    AlsaTone tone;
    SteadyClock clock;
    QtEventPump pump;
    QtDialogs dialogs;
    Platform platform{tone, clock, pump, dialogs};

    const QString config = vantrelConfigDir();
    PortMap ports(config);
    QtSerialComponent comm(ports);

    Form1 form(platform, comm, config);
    form.Form_Load();
    form.show();
    return app.exec();
}
