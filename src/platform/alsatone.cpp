#include "tone.h"

#include <alsa/asoundlib.h>

#include <QElapsedTimer>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cmath>
#include <ctime>
#include <numbers>
#include <system_error>
#include <thread>
#include <vector>

namespace
{

constexpr unsigned SampleRate = 48000;
constexpr int DeadlineSlackMs = 500;

// ALSA reports a missing sound card with a page of "ALSA lib ..." lines on stderr.
void silentAlsaError(const char *, int, const char *, int, const char *, ...) {}

void sleepMs(qint64 ms)
{
    if (ms <= 0)
        return;
    timespec ts{time_t(ms / 1000), long(ms % 1000) * 1000000L};
    while (nanosleep(&ts, &ts) != 0 && errno == EINTR) {
    }
}

std::vector<int16_t> sineSamples(int frequencyHz, int durationMs)
{
    const size_t frames = size_t(quint64(SampleRate) * unsigned(durationMs) / 1000u);
    std::vector<int16_t> samples(frames);
    const size_t ramp = std::min<size_t>(SampleRate / 500, frames / 2); // 2 ms against clicks
    const double step = 2.0 * std::numbers::pi * frequencyHz / SampleRate;
    for (size_t i = 0; i < frames; ++i) {
        double gain = 0.5;
        if (i < ramp)
            gain *= double(i) / double(ramp);
        else if (frames - i <= ramp)
            gain *= double(frames - i - 1) / double(ramp);
        samples[i] = int16_t(std::lround(32767.0 * gain * std::sin(step * double(i))));
    }
    return samples;
}

// True while a tone thread runs; it may stay true for good if the device never answers.
std::atomic<bool> g_toneInFlight{false};

bool playOnDevice(int frequencyHz, int durationMs);

// Starts the tone on its own thread unless one is still in flight. Returns whether it started.
bool startTone(int frequencyHz, int durationMs)
{
    if (g_toneInFlight.exchange(true))
        return false;
    try {
        std::thread([frequencyHz, durationMs] {
            playOnDevice(frequencyHz, durationMs);
            g_toneInFlight = false;
        }).detach();
    } catch (const std::system_error &) {
        g_toneInFlight = false;
        return false;
    }
    return true;
}

} // namespace

AlsaTone::AlsaTone()
{
    snd_lib_error_set_handler(silentAlsaError);
}

void AlsaTone::beep(int frequencyHz, int durationMs)
{
    if (durationMs <= 0)
        return;
    QElapsedTimer spent;
    spent.start();
    // Beyond half the sample rate a sine cannot be played: that beep stays silent.
    if (frequencyHz > 0 && unsigned(frequencyHz) < SampleRate / 2)
        startTone(frequencyHz, durationMs);
    sleepMs(durationMs - spent.elapsed());
}

namespace
{

bool playOnDevice(int frequencyHz, int durationMs)
{
    QElapsedTimer clock;
    clock.start();
    const qint64 deadline = qint64(durationMs) + DeadlineSlackMs;

    snd_pcm_t *pcm = nullptr;
    // Non-blocking, so that a device that stops taking samples cannot hold the beep forever.
    if (snd_pcm_open(&pcm, "default", SND_PCM_STREAM_PLAYBACK, SND_PCM_NONBLOCK) < 0)
        return false;
    bool played = false;
    if (snd_pcm_set_params(pcm, SND_PCM_FORMAT_S16_LE, SND_PCM_ACCESS_RW_INTERLEAVED, 1, SampleRate,
                           1, 100000) == 0) {
        const std::vector<int16_t> samples = sineSamples(frequencyHz, durationMs);
        const snd_pcm_uframes_t total = samples.size();
        snd_pcm_uframes_t done = 0;
        bool failed = false;
        while (done < total && !failed) {
            const qint64 left = deadline - clock.elapsed();
            if (left <= 0) {
                failed = true;
                break;
            }
            const snd_pcm_sframes_t n = snd_pcm_writei(pcm, samples.data() + done, total - done);
            if (n >= 0)
                done += snd_pcm_uframes_t(n);
            else if (n == -EAGAIN)
                snd_pcm_wait(pcm, int(std::min<qint64>(left, 50)));
            else if (snd_pcm_recover(pcm, int(n), 1) < 0)
                failed = true;
        }
        if (!failed) {
            // In non-blocking mode the drain only starts; wait for it under the same deadline.
            const int rc = snd_pcm_drain(pcm);
            if (rc == 0 || rc == -EAGAIN) {
                while (snd_pcm_state(pcm) == SND_PCM_STATE_DRAINING && clock.elapsed() < deadline)
                    sleepMs(2);
                played = snd_pcm_state(pcm) != SND_PCM_STATE_DRAINING;
            }
        }
    }
    if (!played)
        snd_pcm_drop(pcm);
    snd_pcm_close(pcm);
    return played;
}

} // namespace
