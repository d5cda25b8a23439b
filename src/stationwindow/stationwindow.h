#pragma once

#include <QMainWindow>

// The station window: the image and the rates at the top, a tile per watched port, the totals.
class StationWindow : public QMainWindow
{
    Q_OBJECT
public:
    explicit StationWindow(QWidget *parent = nullptr);
};
