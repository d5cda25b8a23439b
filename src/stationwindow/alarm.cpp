#include "alarm.h"

#include "tone.h"

#include <chrono>

Alarm::Alarm(Tone &tone) : m_tone(tone), m_thread([this] { play(); }) {}

Alarm::~Alarm()
{
    {
        const std::lock_guard<std::mutex> hold(m_lock);
        m_ending = true;
        m_sounds.clear();
    }
    m_wake.notify_all();
    m_thread.join();
}

void Alarm::failed()
{
    enqueue(alarmBeeps);
}

void Alarm::enqueue(int beeps)
{
    {
        const std::lock_guard<std::mutex> hold(m_lock);
        m_sounds.push_back(beeps);
    }
    m_wake.notify_all();
}

bool Alarm::next(int *beeps)
{
    std::unique_lock<std::mutex> hold(m_lock);
    m_wake.wait(hold, [this] { return m_ending || !m_sounds.empty(); });
    if (m_ending)
        return false;
    *beeps = m_sounds.front();
    m_sounds.pop_front();
    return true;
}

void Alarm::play()
{
    int beeps = 0;
    while (next(&beeps)) {
        for (int i = 0; i < beeps; ++i) {
            m_tone.beep(beepFrequencyHz, beepDurationMs);
            // The pause keeps the beeps apart; the end of the alarm cuts it short.
            std::unique_lock<std::mutex> hold(m_lock);
            if (m_wake.wait_for(hold, std::chrono::milliseconds(alarmPauseMs),
                                [this] { return m_ending; }))
                return;
        }
    }
}
