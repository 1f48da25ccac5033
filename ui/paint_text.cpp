#include "ui/paint_text.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "app/state.h"

namespace {

// The formats below only ever produce ASCII, so a byte-wise widening is exact.
std::u16string Widen(const char* text) {
    std::u16string out;
    for (const char* c = text; *c != '\0'; ++c) out.push_back(static_cast<char16_t>(*c));
    return out;
}

constexpr double kBytesPerMegabyte = 1048576.0;  // 2^20

}  // namespace

std::u16string FormatMegabytes(uint64_t bytes) {
    char buffer[64];
    std::snprintf(buffer, sizeof(buffer), "%.1f MB",
                  static_cast<double>(bytes) / kBytesPerMegabyte);
    return Widen(buffer);
}

bool HasKnownTotal(const InstallProgress& progress) {
    return !progress.indeterminate && progress.bytesTotal != 0;
}

float ProgressFraction(const InstallProgress& progress) {
    if (!HasKnownTotal(progress)) return 0.0f;
    const float p =
        static_cast<float>(progress.bytesDone) / static_cast<float>(progress.bytesTotal);
    return std::clamp(p, 0.0f, 1.0f);
}

std::u16string FormatPercent(float fraction) {
    char buffer[16];
    std::snprintf(buffer, sizeof(buffer), "%d%%", static_cast<int>(std::roundf(fraction * 100.0f)));
    return Widen(buffer);
}

std::u16string FormatSizeLine(uint64_t bytesDone, uint64_t bytesTotal) {
    return FormatMegabytes(bytesDone) + u" / " + FormatMegabytes(bytesTotal);
}

std::u16string FormatSpeed(double bytesPerSecond) {
    // Also false for NaN, so a broken average never shows.
    if (!(bytesPerSecond > 1024.0)) return {};
    char buffer[64];
    const double mb = bytesPerSecond / kBytesPerMegabyte;
    if (mb >= 0.1) {
        std::snprintf(buffer, sizeof(buffer), "%.1f MB/s", mb);
    } else {
        std::snprintf(buffer, sizeof(buffer), "%.0f KB/s", std::max(bytesPerSecond / 1024.0, 0.0));
    }
    return Widen(buffer);
}

float FillWidth(float fraction) {
    // A sliver under half a percent would be a smudge, not a bar; anything more is at least as
    // wide as the bar is high so its rounded ends stay round.
    if (!(fraction > 0.005f)) return 0.0f;
    return std::max(fraction * kTrackWidth, kTrackHeight);
}

TrackSpan MovingSegment(float animPhase) {
    // One sweep per unit of phase: the segment enters at the track's left end and leaves at its
    // right end, travelling the track's width plus its own length.
    const float t = std::fmod(animPhase, 1.0f);
    const float x0 = t * (kTrackWidth + kSegmentLength) - kSegmentLength + kTrackLeft;
    TrackSpan span;
    span.left = std::max(x0, kTrackLeft);
    span.right = std::min(x0 + kSegmentLength, kTrackLeft + kTrackWidth);
    span.visible = span.right > span.left + 2.0f;
    return span;
}
