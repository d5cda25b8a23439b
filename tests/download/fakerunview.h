#pragma once

#include "delay.h"
#include "module1.h"
#include "platform.h"
#include "runview.h"

#include <QStringList>
#include <QVariant>

// The window as a download run sees it: every change noted in `log` ("status=连接中……"), shared
// with the serial component's; waits run the real wait over the platform's clock and pump.
class FakeRunView : public RunView
{
public:
    FakeRunView(SerialComponent &serial, Platform &platform, QStringList &log)
        : serial(serial), platform(platform), log(log)
    {
    }
    bool openPort() override
    {
        return Module1::OPEN_COM(serial, "COM1", downloadBaud, "8", "1", platform.dialogs);
    }
    QString downloadBaudText() const override { return downloadBaud; }
    QString resetBaudText() const override { return resetBaud; }
    qint16 autoReset() const override { return AUTO_RESET; }
    qint16 previewBin() const override { return PREVIEW_BIN; }
    void ALL_KEY(bool on) override { note("ALL_KEY", controlsEnabled = command1Enabled = on); }
    void setCommand1Caption(const QString &text) override { note("caption", caption = text); }
    void setCommand1Enabled(bool on) override { note("Command1", command1Enabled = on); }
    void setStatusText(const QString &text) override { note("status", status = text); }
    void setProgressWidth(int twips) override { note("width", twips); }
    double progressTrackWidth() const override { return 8145; }
    void setPanelTexts(const QString &one, const QString &two) override
    {
        note("panel", one + '/' + two);
    }
    void setPanelTop(int twips) override { note("panelTop", twips); }
    void setPanelVisible(bool on) override { note("panelVisible", panelVisible = on); }
    void waitRunningEvents(std::chrono::milliseconds wait) override
    {
        note("delay", qint64(wait.count()));
        ::waitRunningEvents(wait, platform.clock, platform.pump);
    }
    template <typename T> void note(const char *what, const T &value)
    {
        log << what + ('=' + QVariant(value).toString());
    }

    SerialComponent &serial;
    Platform &platform;
    QStringList &log;
    QString downloadBaud = QStringLiteral("115200"), resetBaud = QStringLiteral("9600");
    qint16 AUTO_RESET = 0, PREVIEW_BIN = 0;
    bool controlsEnabled = true, command1Enabled = true, panelVisible = false;
    QString caption = QStringLiteral("单次下载"), status;
};
