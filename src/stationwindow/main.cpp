#include "stationwindow.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    StationWindow window;
    window.show();
    return app.exec();
}
