#pragma once

// Runs the user interface's pending events from inside a handler, so that ticks, serial
// receive events and clicks can nest inside a long-running handler.
class EventPump
{
public:
    virtual ~EventPump() = default;
    // Runs every event that is pending now, once, and returns.
    virtual void processEvents() = 0;
    // Sleeps until at least one event arrives or maxMs milliseconds pass, runs what arrived,
    // and returns. Used instead of spinning when a caller waits for time to pass.
    virtual void waitForEvents(int maxMs) = 0;
};

class QtEventPump : public EventPump
{
public:
    void processEvents() override;
    void waitForEvents(int maxMs) override;
};
