#include "measurement/engine/ZDMSecondsSinceBoot.h"

#include "platform/dispatch/Clock.h"

double ZDMSecondsSinceBoot() {
    const Clock& clock = Clock::current();
    const auto bootTime = clock.bootTime();
    if (!bootTime || *bootTime == 0) return -1;
    return clock.now() - *bootTime;
}
