#pragma once
// The uptime clock that durations of suspension, sessions and ad exposure are measured on: it keeps
// counting while the machine sleeps and does not jump with time zones.

// Seconds since the machine booted (the process clock's now minus its boot time); -1 when the boot
// time cannot be read or reads 0, which callers treat as unknown.
double ZDMSecondsSinceBoot();
