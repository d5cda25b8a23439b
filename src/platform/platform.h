#pragma once

class Tone;
class Clock;
class EventPump;

// The platform services the window and the download engine use. Production code passes the
// real ones; tests pass fakes (no sound card, no 200 ms per beep, a clock that moves when told).
struct Platform {
    Tone &tone;
    Clock &clock;
    EventPump &pump;
};
