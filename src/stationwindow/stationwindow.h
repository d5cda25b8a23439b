#pragma once

#include "alarm.h"
#include "boardrun.h"
#include "settingsfile.h"
#include "station.h"
#include "stationreport.h"

#include <QElapsedTimer>
#include <QMainWindow>
#include <QTimer>

#include <functional>
#include <memory>

class QCheckBox;
class QComboBox;
class QGridLayout;
class QLabel;
class QPushButton;
class SocketGrid;
class Tone;

// The station window: the image, the rates and the report at the top, a tile per watched port,
// the totals. Start makes a station that flashes each board as it appears; stop (or closing
// the window) ends the runs going on as interrupted and waits for every port to be closed.
// Each start is a new station: its counts and running time start from nothing (the report
// keeps every row).
class StationWindow : public QMainWindow
{
    Q_OBJECT
public:
    // The tiles and the totals are repainted at most once in this time (10 times a second: a
    // 1024-byte block at 115200 baud takes 89 ms).
    static constexpr int repaintIntervalMs = 100;

    // Watches `ports`, or every port when empty; the settings file and the ports folder are in
    // `configDir`. The sounds go to `tone`, off the window's thread.
    StationWindow(Tone &tone, const QString &configDir, const QList<PortTarget> &ports,
                  QWidget *parent = nullptr);
    // A station still running is stopped and waited for first.
    ~StationWindow() override;

    // Reads the image as the main window does (its readers, its refusals). A refused file is
    // told in the window and the image loaded before stays. True when loaded.
    bool loadImage(const QString &path);
    // Opens (creating when missing) the report each run is appended to. False, with the reason
    // in the window and in *error, when it cannot be opened; the report before stays.
    bool openReport(const QString &path, QString *error = nullptr);
    // As the start/stop button: starts a station on the loaded image, or stops the one running.
    void startStation();
    void stopStation();

    // The station of the last start; null before the first.
    const Station *station() const { return m_run ? m_run->station.get() : nullptr; }
    bool isRunning() const { return m_run && !m_run->station->isStopped(); }

    QLabel *imageName, *imageBytes, *imageFormat, *imageStart, *imageSha;
    QComboBox *downloadRateBox, *resetRateBox;
    QCheckBox *autoResetBox;
    QLabel *reportValue;
    QPushButton *loadButton, *reportButton, *startButton;
    QLabel *noticeLine;
    SocketGrid *grid;
    QLabel *totalsLine;

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    // One start: the plan and the clock the station holds on to, and the station.
    struct Run {
        FlashPlan plan;
        QElapsedTimer clock;
        std::unique_ptr<Station> station;
    };

    void buildTop(QWidget *top);
    void buildImageFacts(QWidget *top, QGridLayout *layout);
    void buildSettings(QWidget *top, QGridLayout *layout);
    void showImage();
    // Writes one choice into the settings file, the others as the file has them now.
    void storeSetting(const std::function<void(StoredSettings &)> &change);
    void chooseImage();
    void chooseReport();
    void connectStation(Station &station);
    void runEnded(const BoardRow &row);
    void stationStopped();
    void setControlsEnabled();
    void markDirty();
    void repaintSockets();
    void showTotals();
    void waitForStop();
    QList<Socket> waitingSockets() const;

    Alarm m_alarm;
    const QString m_configDir;
    const QList<PortTarget> m_ports; // empty: every port
    QString m_imagePath;             // "" while none is loaded
    FirmwareImage::Result m_image;
    QString m_imageSha;
    StoredSettings m_settings;
    StationReport m_report;
    std::unique_ptr<Run> m_run;
    QTimer m_repaint; // single shot: at most one repaint per interval
    QTimer m_tick;    // the running time, once a second
    bool m_closing = false;
};
