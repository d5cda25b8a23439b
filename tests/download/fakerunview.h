#pragma once

#include "delay.h"
#include "module1.h"
#include "platform.h"
#include "runview.h"

#include <QStringList>

// The window as a download run sees it, without widgets. Every change the run makes is
// appended to `log` (normally the serial component's log, so that the two interleave in the
// order they happened); delays run the real delay_ms over the fake clock and pump.
class FakeRunView : public RunView
{
public:
    FakeRunView(SerialComponent &serial, Platform &platform, QStringList &log)
        : serial(serial), platform(platform), log(log)
    {
    }

    bool openPort() override
    {
        return Module1::OPEN_COM(serial, QStringLiteral("COM1"), downloadBaud, QStringLiteral("8"),
                                 QStringLiteral("1"), platform.dialogs);
    }
    QString downloadBaudText() const override { return downloadBaud; }
    QString resetBaudText() const override { return resetBaud; }
    qint16 autoReset() const override { return AUTO_RESET; }
    qint16 previewBin() const override { return PREVIEW_BIN; }

    void ALL_KEY(bool enable) override
    {
        controlsEnabled = enable;
        command1Enabled = enable;
        log << QStringLiteral("ALL_KEY=%1").arg(enable ? 1 : 0);
    }
    void setCommand1Caption(const QString &text) override
    {
        caption = text;
        log << QStringLiteral("caption=") + text;
    }
    void setCommand1Enabled(bool enabled) override
    {
        command1Enabled = enabled;
        log << QStringLiteral("Command1=%1").arg(enabled ? 1 : 0);
    }
    void setStatusText(const QString &text) override
    {
        status = text;
        log << QStringLiteral("status=") + text;
    }
    void setProgressWidth(int twips) override
    {
        width = twips;
        log << QStringLiteral("width=%1").arg(twips);
    }
    double progressTrackWidth() const override { return 8145; }
    void setPanelTexts(const QString &line1, const QString &line2) override
    {
        panel1 = line1;
        panel2 = line2;
        log << QStringLiteral("panel=") + line1 + QLatin1Char('|') + line2;
    }
    void setPanelTop(int twips) override
    {
        panelTop = twips;
        log << QStringLiteral("panelTop=%1").arg(twips);
    }
    void setPanelVisible(bool visible) override
    {
        panelVisible = visible;
        log << QStringLiteral("panelVisible=%1").arg(visible ? 1 : 0);
    }
    void delay_ms(double HaoMiao) override
    {
        log << QStringLiteral("delay=%1").arg(HaoMiao);
        ::delay_ms(HaoMiao, platform.clock, platform.pump);
    }

    SerialComponent &serial;
    Platform &platform;
    QStringList &log;

    QString downloadBaud = QStringLiteral("115200");
    QString resetBaud = QStringLiteral("9600");
    qint16 AUTO_RESET = 0;
    qint16 PREVIEW_BIN = 0;

    bool controlsEnabled = true;
    bool command1Enabled = true;
    QString caption = QStringLiteral("单次下载");
    QString status;
    int width = 0;
    QString panel1, panel2;
    int panelTop = 1800;
    bool panelVisible = false;
};
