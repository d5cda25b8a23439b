#pragma once

// Every beep the program sounds: start-up, each click of the load, download and exit buttons,
// and the five of a failed run.
constexpr int beepFrequencyHz = 5000;
constexpr int beepDurationMs = 200;
// A failed run's alarm: five beeps, each followed by a pause.
constexpr int alarmBeeps = 5;
constexpr int alarmPauseMs = 200;

// The tone generator behind every beep. beep() returns only after the tone has played
// (or, without a sound device, after the same time has passed silently).
class Tone
{
public:
    virtual ~Tone() = default;
    virtual void beep(int frequencyHz, int durationMs) = 0;
};

// Plays a sine tone on ALSA's default output. The calling thread only waits the tone's length:
// opening, configuring, draining and closing the device happen on a thread of their own, so a
// stalled sound server (or a device that never opens) cannot hold the window. At most one tone
// is in flight in the process; a beep while one is still stuck is a silent wait, as is a beep
// without a sound device.
class AlsaTone : public Tone
{
public:
    AlsaTone();
    void beep(int frequencyHz, int durationMs) override;
};
