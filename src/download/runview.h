#pragma once

#include <QString>

#include <chrono>

// What a download run needs of the main window: the operator's choices, the controls it
// locks and relabels, the status line, the progress bar and the notice panel. Positions and
// widths are in twips.
class RunView
{
public:
    virtual ~RunView() = default;

    // Opens the chosen port at the chosen download rate, 8 data bits, 1 stop bit. True when
    // this call opened it (a busy port has been explained to the operator otherwise).
    virtual bool openPort() = 0;
    virtual QString downloadBaudText() const = 0; // the download rate's text, as shown
    virtual QString resetBaudText() const = 0;    // the reset rate's text, as shown
    virtual qint16 autoReset() const = 0;         // 1: reset request before connecting
    virtual qint16 previewBin() const = 0;        // 1: preview on (the panel sits lower)

    // Enables (true) or disables (false) all the operator's controls at once.
    virtual void ALL_KEY(bool enable) = 0;
    virtual void setCommand1Caption(const QString &caption) = 0;
    virtual void setCommand1Enabled(bool enabled) = 0;

    virtual void setStatusText(const QString &text) = 0; // the line over the progress bar
    virtual void setProgressWidth(int twips) = 0;        // the green fill
    virtual double progressTrackWidth() const = 0;       // the full track

    // The notice panel: two lines of text, its top, shown or hidden.
    virtual void setPanelTexts(const QString &line1, const QString &line2) = 0;
    virtual void setPanelTop(int twips) = 0;
    virtual void setPanelVisible(bool visible) = 0;

    // Waits while the window keeps handling events.
    virtual void waitRunningEvents(std::chrono::milliseconds wait) = 0;
};
