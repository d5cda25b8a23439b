#include "delay.h"

#include "clock.h"
#include "eventpump.h"

#include <climits>

void waitRunningEvents(std::chrono::milliseconds wait, Clock &clock, EventPump &pump)
{
    if (wait.count() <= 0)
        return;
    const quint32 start = clock.nowMs();
    for (;;) {
        const qint64 elapsed = quint32(clock.nowMs() - start); // modulo 2^32
        if (elapsed >= wait.count())
            return;
        const qint64 left = wait.count() - elapsed;
        pump.waitForEvents(left > INT_MAX ? INT_MAX : int(left));
    }
}
