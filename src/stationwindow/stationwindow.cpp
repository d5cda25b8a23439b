#include "stationwindow.h"

StationWindow::StationWindow(QWidget *parent) : QMainWindow(parent) {}
