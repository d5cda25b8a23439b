#include "delay.h"

#include "clock.h"
#include "eventpump.h"

#include <climits>
#include <cmath>

void delay_ms(double HaoMiao, Clock &clock, EventPump &pump)
{
    if (!(HaoMiao > 0.0))
        return;
    const quint32 start = clock.timeGetTime();
    for (;;) {
        const quint32 elapsed = clock.timeGetTime() - start; // modulo 2^32
        if (double(elapsed) >= HaoMiao)
            return;
        const double left = std::ceil(HaoMiao - double(elapsed));
        pump.waitForEvents(left > INT_MAX ? INT_MAX : int(left));
    }
}
