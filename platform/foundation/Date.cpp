#include "platform/foundation/Date.h"

#include <cmath>

#include "platform/dispatch/Clock.h"

Date Date::now() {
    return fromUnix(Clock::current().now());
}

int64_t Date::unixMillis() const {
    return static_cast<int64_t>(std::llround(timeIntervalSince1970() * 1000.0));
}
