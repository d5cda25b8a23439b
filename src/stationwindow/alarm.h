#pragma once

#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

class Tone;

// The station's sounds, played on a thread of their own so that the window never waits for a
// tone: one beep for a board that passed, the main window's alarm (alarmBeeps beeps, each
// followed by a pause) for one that failed. Sounds are queued and played in the order the runs
// ended: a failure that ends during another sound is played whole after it, never merged into
// it, so every failure is heard as its own alarm.
class Alarm
{
public:
    explicit Alarm(Tone &tone);
    // Drops the sounds not yet begun and waits for the beep playing (one beep's length at most).
    ~Alarm();
    Alarm(const Alarm &) = delete;
    Alarm &operator=(const Alarm &) = delete;

    void passed() { enqueue(1); }
    void failed();

private:
    void enqueue(int beeps);
    void play();
    // Waits for a sound (or the end); false when the alarm is ending.
    bool next(int *beeps);

    Tone &m_tone;
    std::mutex m_lock;
    std::condition_variable m_wake;
    std::deque<int> m_sounds; // beeps per sound, the oldest first
    bool m_ending = false;
    std::thread m_thread; // last: it starts once the rest is ready
};
