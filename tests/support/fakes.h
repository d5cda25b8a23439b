#pragma once

#include "clock.h"
#include "eventpump.h"
#include "platform.h"
#include "tone.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QString>
#include <QStringList>

#include <functional>

// Records beeps instead of playing them; optionally runs a hook on each beep.
class FakeTone : public Tone
{
public:
    void beep(int frequencyHz, int durationMs) override
    {
        beeps.append({frequencyHz, durationMs});
        if (onBeep)
            onBeep();
    }
    struct Call {
        int hz;
        int ms;
    };
    QList<Call> beeps;
    std::function<void()> onBeep;
};

// A clock that only moves when told to.
class FakeClock : public Clock
{
public:
    quint32 nowMs() override { return now; }
    quint32 now = 0;
};

// Counts pumps. By default it also runs Qt's pending events (so queued serial and timer events
// nest as they would); `hook` runs first on every pump, for scripting events inside a pump.
class FakePump : public EventPump
{
public:
    void processEvents() override
    {
        ++pumps;
        if (hook)
            hook();
        if (runQtEvents)
            QCoreApplication::processEvents(QEventLoop::AllEvents);
    }
    void waitForEvents(int maxMs) override
    {
        ++waits;
        if (clock)
            clock->now += quint32(maxMs);
        processEvents();
    }
    int pumps = 0;
    int waits = 0;
    bool runQtEvents = true;
    FakeClock *clock = nullptr; // when set, a wait advances this clock by the time asked for
    std::function<void()> hook;
};

// The fakes bundled as a Platform. Waits advance the fake clock, so a wait returns at
// once while still running Qt's pending events.
struct FakePlatform {
    FakePlatform() { pump.clock = &clock; }
    FakePlatform(const FakePlatform &) = delete;
    FakePlatform &operator=(const FakePlatform &) = delete;

    FakeTone tone;
    FakeClock clock;
    FakePump pump;
    Platform platform{tone, clock, pump};
};
