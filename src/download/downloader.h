#pragma once

#include <QtGlobal>

class SerialComponent;
struct ImageBuffer;
struct Platform;
class RunView;

// One download run, from the click on "单次下载" to success, failure or stop, driven by three
// events: the button, the 10 ms tick and the serial receive event.
//
// Steps: 0 idle, 1 connect, 2 announce the length, 3 send the blocks, 4 wait for completion.
// Requests go out on ticks; each block goes out the moment the reply to the previous one is
// handled. Sending a request runs pending events, so a reply or a click can be handled in the
// middle of a tick; the handlers order their field changes so that such a nested event always
// finds a consistent step.
class Downloader
{
public:
    Downloader(SerialComponent &MSComm1, ImageBuffer &image, Platform &platform, RunView &view);

    // Run state. Booleans are -1 (true) and 0 (false).
    qint16 DOWN_ACTIVE = 0;  // a run is active: the button is the stop button
    qint16 DOWN_STEP = 0;    // 0..4
    qint16 TICK_COUNT = 0;   // ticks counted in the current step; kept across runs
    qint32 BIN_BLOCK_NO = 0; // the block being sent, from 0

    void Command1_Click();
    void Timer1_Timer();
    void MSComm1_OnComm();

    // Writes the 4-byte length field (nothing when the field cannot describe the image).
    void SEND_BIN_LEN();
    // Writes block n, moves to step 4 after the last block and draws the progress. A block
    // number beyond the image writes and changes nothing.
    void DOWN_LOAD_BIN(const qint32 &n);

private:
    enum class Failure { Connection, Download };
    void succeed();
    void fail(Failure failure);
    void sendHex(const QString &hex);
    bool setLineRate(const QString &baudText);

    SerialComponent &MSComm1;
    ImageBuffer &image;
    Platform &platform;
    RunView &view;

    // Counts started runs. A tick or a failure alarm that runs events remembers the run it
    // belongs to and leaves the rest of its work undone when a new run has started meanwhile.
    quint64 m_runId = 0;
};
