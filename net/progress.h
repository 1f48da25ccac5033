// When a download reports progress and the speed it reports. Portable arithmetic, so both
// builds test it; the clock is a replaceable platform function.
#pragma once

#include <cstdint>

inline constexpr int64_t kProgressIntervalNs = 50'000'000;  // at most one report per 50 ms
inline constexpr double kMinSpeedSeconds = 0.05;            // a speed is never over less time

// Nanoseconds of a monotonic clock; only differences mean anything.
using MonotonicNowFn = int64_t (*)();
int64_t SteadyClockNowNs();
extern MonotonicNowFn g_monotonicNowNs;

struct DownloadProgress {
    uint64_t bytesDone = 0;
    uint64_t bytesTotal = 0;
    double bytesPerSecond = 0.0;
};

// A report is due when 50 ms have passed since the last one, and always for the last expected
// byte, so a fast download still shows its end.
bool ProgressDue(int64_t lastReportNs, int64_t nowNs, uint64_t bytesDone, uint64_t bytesTotal);

// The average since `startNs`, over at least 0.05 s so the first tiny interval cannot show an
// absurd speed.
double AverageBytesPerSecond(uint64_t bytesDone, int64_t startNs, int64_t nowNs);
