#include "net/progress.h"

#include <algorithm>
#include <chrono>

int64_t SteadyClockNowNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

MonotonicNowFn g_monotonicNowNs = &SteadyClockNowNs;

bool ProgressDue(int64_t lastReportNs, int64_t nowNs, uint64_t bytesDone, uint64_t bytesTotal) {
    return nowNs - lastReportNs >= kProgressIntervalNs || bytesDone == bytesTotal;
}

double AverageBytesPerSecond(uint64_t bytesDone, int64_t startNs, int64_t nowNs) {
    const double seconds = std::max(static_cast<double>(nowNs - startNs) / 1e9, kMinSpeedSeconds);
    return static_cast<double>(bytesDone) / seconds;
}
