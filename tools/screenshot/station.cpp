// Renders the station window to docs/station.png, headless, with a tray of virtual boards:
//   QT_QPA_PLATFORM=offscreen vantrel-station-screenshot <output folder>
// Eight boards at 115200 baud, plugged in one after another, the fourth silent after block 10:
// the window is taken when some have passed, the faulty one has failed and one is flashing.
#include "settingsfile.h"
#include "socketgrid.h"
#include "stationwindow.h"
#include "tone.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <algorithm>

namespace
{

class SilentTone : public Tone
{
public:
    void beep(int, int) override {}
};

bool trayAsShown(const Station &station)
{
    const QList<Socket> &sockets = station.sockets();
    const auto in = [&](Socket::State state) {
        return std::any_of(sockets.begin(), sockets.end(),
                           [state](const Socket &s) { return s.state == state; });
    };
    return station.totals().passed >= 3 && in(Socket::State::Failed) && in(Socket::State::Flashing);
}

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    const QString out = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral(".");
    QDir().mkpath(out);
    QTemporaryDir home;
    qputenv("XDG_CONFIG_HOME", home.path().toLocal8Bit()); // the port map reads it
    QDir config(home.filePath(QStringLiteral("vantrel")));
    config.mkpath(QStringLiteral("."));
    StoredSettings settings = StoredSettings::defaults();
    settings.downloadRateIndex = int(downloadRates().indexOf(QStringLiteral("115200")));
    writeSettingsFile(config.filePath(QStringLiteral("VANTREL_SET.SB")), settings);
    QByteArray image(48 * 1024, '\0');
    for (qsizetype i = 0; i < image.size(); ++i)
        image[i] = char((i * 7 + i / 16) & 0xFF);
    QFile file(config.filePath(QStringLiteral("app.bin")));
    if (!file.open(QIODevice::WriteOnly) || file.write(image) != image.size())
        return 1;
    file.close();

    QProcess tray;
    tray.start(VBOARD_PATH, {"--com", "1", "--boards", "8", "--baud", "115200", "--stagger", "700",
                             "--fault-on", "4=silent-after=10", "--config", config.path()});
    QThread::msleep(300);
    SilentTone tone;
    StationWindow window(tone, config.path(), {});
    window.resize(900, 560);
    window.loadImage(file.fileName());
    window.show();
    window.startStation();
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < 60000 && !(window.station() && trayAsShown(*window.station())))
        app.processEvents(QEventLoop::AllEvents, 20);
    // The last repaint and the layout it asks for.
    for (QElapsedTimer settle; !settle.isValid() || settle.elapsed() < 200;) {
        if (!settle.isValid())
            settle.start();
        app.processEvents(QEventLoop::AllEvents, 10);
    }
    window.grab().save(out + QStringLiteral("/station.png"));
    window.stopStation();
    tray.terminate();
    tray.waitForFinished(5000);
    return 0;
}
