// Renders the main window to PNG files for the documentation, headless:
//   QT_QPA_PLATFORM=offscreen vantrel-screenshot <output folder>
// It starts the window with a throw-away config folder and no sound, shows it as it looks
// after start-up, then with a small image loaded and the preview on.
#include "clock.h"
#include "eventpump.h"
#include "fonts.h"
#include "mainwindow.h"
#include "platform.h"
#include "qtdialogs.h"
#include "qtserialport.h"
#include "tone.h"

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <pty.h>
#include <unistd.h>

namespace
{

class SilentTone : public Tone
{
public:
    void beep(int, int) override {}
};

// Answers the file dialog with a prepared image.
class ScriptedDialogs : public QtDialogs
{
public:
    QString file;
    QString getOpenFileName(QWidget *, const QString &) override { return file; }
};

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    installFontSubstitutions();
    const QString out = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral(".");
    QDir().mkpath(out);

    QTemporaryDir config;
    // One pseudo-terminal linked as COM1, so the port list shows an entry.
    QDir(config.path()).mkpath(QStringLiteral("ports"));
    int master = -1, slave = -1;
    char name[256] = {};
    if (openpty(&master, &slave, name, nullptr, nullptr) == 0)
        QFile::link(QString::fromLocal8Bit(name), config.path() + QStringLiteral("/ports/com1"));
    SilentTone tone;
    SteadyClock clock;
    QtEventPump pump;
    ScriptedDialogs dialogs;
    Platform platform{tone, clock, pump};
    QtSerialPort port;

    MainWindow form(platform, dialogs, port, config.path());
    form.startUp();
    form.show();
    QCoreApplication::processEvents();
    form.grab().save(out + QStringLiteral("/window.png"));

    QByteArray image;
    for (int i = 0; i < 1500; ++i)
        image.append(char((i * 7 + i / 16) & 0xFF));
    QFile sample(config.path() + QStringLiteral("/firmware.bin"));
    sample.open(QIODevice::WriteOnly);
    sample.write(image);
    sample.close();
    dialogs.file = sample.fileName();
    form.onLoadClicked();
    form.previewBox->setChecked(true);
    QCoreApplication::processEvents();
    form.grab().save(out + QStringLiteral("/window-preview.png"));
    ::close(master);
    ::close(slave);
    return 0;
}
