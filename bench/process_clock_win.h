// Milliseconds since the system created this process, the clock both start-up benchmarks read so
// that the installer's steps and the minimal window are timed from the same moment.
#pragma once

#include <windows.h>

inline double MsSinceProcessCreation() {
    FILETIME created, exited, kernel, user, now;
    GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user);
    GetSystemTimeAsFileTime(&now);
    const auto ticks = [](const FILETIME& t) {
        return (static_cast<unsigned long long>(t.dwHighDateTime) << 32) | t.dwLowDateTime;
    };
    return static_cast<double>(ticks(now) - ticks(created)) / 10000.0;
}
