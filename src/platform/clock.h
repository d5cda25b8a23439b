#pragma once

#include <QtGlobal>

// The millisecond clock: milliseconds since the system started, as a 32-bit count that wraps
// after about 49.7 days. Differences of two readings are taken modulo 2^32.
class Clock
{
public:
    virtual ~Clock() = default;
    virtual quint32 nowMs() = 0;
};

class SteadyClock : public Clock
{
public:
    quint32 nowMs() override;
};
