#include <gtest/gtest.h>

#include "net/progress.h"

TEST(ProgressDue, WaitsFiftyMillisecondsBetweenReports) {
    EXPECT_FALSE(ProgressDue(1'000, 1'000 + 49'999'999, 10, 100));
    EXPECT_TRUE(ProgressDue(1'000, 1'000 + 50'000'000, 10, 100));
    EXPECT_TRUE(ProgressDue(1'000, 1'000 + 900'000'000, 10, 100));
}

TEST(ProgressDue, AlwaysReportsTheLastExpectedByte) {
    EXPECT_TRUE(ProgressDue(5'000, 5'000, 100, 100));
    EXPECT_FALSE(ProgressDue(5'000, 5'000, 99, 100));
}

TEST(AverageBytesPerSecond, IsTheAverageSinceTheStart) {
    EXPECT_DOUBLE_EQ(AverageBytesPerSecond(4'000'000, 0, 2'000'000'000), 2'000'000.0);
    EXPECT_DOUBLE_EQ(AverageBytesPerSecond(1'000, 7'000'000'000, 7'100'000'000), 10'000.0);
}

TEST(AverageBytesPerSecond, NeverDividesByLessThanFiftyMilliseconds) {
    EXPECT_DOUBLE_EQ(AverageBytesPerSecond(1'000, 0, 0), 20'000.0);
    EXPECT_DOUBLE_EQ(AverageBytesPerSecond(1'000, 0, 49'999'999), 20'000.0);
    EXPECT_DOUBLE_EQ(AverageBytesPerSecond(1'000, 0, 50'000'000), 20'000.0);
    // A clock that went backwards still gives a finite, positive speed.
    EXPECT_DOUBLE_EQ(AverageBytesPerSecond(1'000, 10, 0), 20'000.0);
}

TEST(MonotonicClock, NeverGoesBackwards) {
    const int64_t first = g_monotonicNowNs();
    const int64_t second = g_monotonicNowNs();
    EXPECT_LE(first, second);
}
