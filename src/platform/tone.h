#pragma once

// Every beep the program sounds: start-up, each click of the load, download and exit buttons,
// and the five of a failed run.
constexpr int beepFrequencyHz = 5000;
constexpr int beepDurationMs = 200;

// The tone generator behind every beep. Beep() returns only after the tone has played
// (or, without a sound device, after the same time has passed silently).
class Tone
{
public:
    virtual ~Tone() = default;
    virtual void Beep(int frequencyHz, int durationMs) = 0;
};

// Plays a sine tone on ALSA's default output. Where no sound device exists the open fails
// fast and the beep becomes a silent wait of the same length; it never hangs.
class AlsaTone : public Tone
{
public:
    AlsaTone();
    void Beep(int frequencyHz, int durationMs) override;

private:
    bool playOnDevice(int frequencyHz, int durationMs);
};
