#pragma once

#include <chrono>

class Clock;
class EventPump;

// Waits until the millisecond clock has advanced by at least `wait`, running the user
// interface's events meanwhile (ticks, serial events and clicks nest inside the wait). Zero or
// less returns at once without running events. The elapsed time is the difference of two 32-bit
// readings taken modulo 2^32, so a wrap of the clock during the wait is harmless. The wait sleeps
// in the event loop until the next event or the deadline rather than spinning.
void waitRunningEvents(std::chrono::milliseconds wait, Clock &clock, EventPump &pump);
