// The numbers and texts of the Installing screen, computed apart from any drawing so both builds
// can check them: sizes, percentage, speed, and where the progress bar's fill goes.
#pragma once

#include <cstdint>
#include <string>

struct InstallProgress;

// The progress track of the Installing screen, in logical pixels.
inline constexpr float kTrackLeft = 36.0f;
inline constexpr float kTrackWidth = 368.0f;
inline constexpr float kTrackHeight = 6.0f;
inline constexpr float kSegmentLength = 96.0f;

// "%.1f MB" of the byte count, one MB being 1,048,576 bytes.
std::u16string FormatMegabytes(uint64_t bytes);

// True when the download's size is known: the percentage, the size line and the speed show.
bool HasKnownTotal(const InstallProgress& progress);

// The share of the download done, 0 … 1; 0 while the total is unknown or the bar moves.
float ProgressFraction(const InstallProgress& progress);

// "62%" for 0.6167: the fraction rounded to a whole percent, halves away from zero.
std::u16string FormatPercent(float fraction);

// "done / total" in MB.
std::u16string FormatSizeLine(uint64_t bytesDone, uint64_t bytesTotal);

// "14.2 MB/s", "102 KB/s"; empty at 1024 bytes per second or less.
std::u16string FormatSpeed(double bytesPerSecond);

// Width of the determinate fill from the track's left end; 0 means no fill is drawn.
float FillWidth(float fraction);

// The moving segment of the indeterminate bar, clipped to the track.
struct TrackSpan {
    bool visible = false;
    float left = 0.0f;
    float right = 0.0f;
};
TrackSpan MovingSegment(float animPhase);
