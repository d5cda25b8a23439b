#pragma once

class Tone;
class Clock;
class EventPump;
class Dialogs;

// The platform services the window and the download engine use. Production code passes the
// real ones; tests pass fakes (no sound card, no 200 ms per beep, scripted dialogs).
struct Platform {
    Tone &tone;
    Clock &clock;
    EventPump &pump;
    Dialogs &dialogs;
};
