// The Installing screen's numbers at the thresholds where their look changes.
#include <gtest/gtest.h>

#include "app/state.h"
#include "ui/paint_text.h"

namespace {

InstallProgress Downloading(uint64_t done, uint64_t total, double speed = 0.0) {
    InstallProgress p;
    p.stage = InstallStage::Installing;
    p.statusText = u"Downloading";
    p.bytesDone = done;
    p.bytesTotal = total;
    p.bytesPerSecond = speed;
    return p;
}

TEST(InstallingText, ThePreviewDownloadReads62PercentSizesAndSpeed) {
    const InstallProgress p = Downloading(1850000, 3000000, 14889779.2);
    ASSERT_TRUE(HasKnownTotal(p));
    const float fraction = ProgressFraction(p);
    EXPECT_EQ(FormatPercent(fraction), u"62%");
    EXPECT_EQ(FormatSizeLine(p.bytesDone, p.bytesTotal), u"1.8 MB / 2.9 MB");
    EXPECT_EQ(FormatSpeed(p.bytesPerSecond), u"14.2 MB/s");
    EXPECT_NEAR(FillWidth(fraction), 226.93f, 0.01f);
    EXPECT_NEAR(kTrackLeft + FillWidth(fraction), 262.93f, 0.01f);
}

TEST(InstallingText, MegabytesAreBinaryWithOneDecimal) {
    EXPECT_EQ(FormatMegabytes(0), u"0.0 MB");
    EXPECT_EQ(FormatMegabytes(1048576), u"1.0 MB");
    EXPECT_EQ(FormatMegabytes(1000000), u"1.0 MB");  // 0.954 rounds up
    EXPECT_EQ(FormatMegabytes(52428), u"0.0 MB");    // 0.04999
    EXPECT_EQ(FormatMegabytes(52429), u"0.1 MB");
    EXPECT_EQ(FormatMegabytes(5ull << 30), u"5120.0 MB");
    EXPECT_EQ(FormatMegabytes(UINT64_MAX), u"17592186044416.0 MB");
}

TEST(InstallingText, SpeedShowsOnlyAbove1024BytesAndSwitchesToMegabytesAtOneTenth) {
    EXPECT_EQ(FormatSpeed(0.0), u"");
    EXPECT_EQ(FormatSpeed(1024.0), u"");
    EXPECT_EQ(FormatSpeed(-5000.0), u"");
    EXPECT_EQ(FormatSpeed(1025.0), u"1 KB/s");
    EXPECT_EQ(FormatSpeed(2048.0), u"2 KB/s");
    EXPECT_EQ(FormatSpeed(104857.0), u"102 KB/s");
    EXPECT_EQ(FormatSpeed(104857.6), u"0.1 MB/s");
    EXPECT_EQ(FormatSpeed(1048576.0 * 1024.0), u"1024.0 MB/s");
}

TEST(InstallingText, AnUnknownTotalOrAMovingBarHidesTheNumbers) {
    InstallProgress p = Downloading(500, 0);
    EXPECT_FALSE(HasKnownTotal(p));
    EXPECT_EQ(ProgressFraction(p), 0.0f);
    EXPECT_EQ(FillWidth(ProgressFraction(p)), 0.0f);

    p = Downloading(500, 1000);
    p.indeterminate = true;
    p.statusText = u"Connecting";
    EXPECT_FALSE(HasKnownTotal(p));
    EXPECT_EQ(ProgressFraction(p), 0.0f);
}

TEST(InstallingText, MoreBytesThanAnnouncedShowAFullBarAt100Percent) {
    const InstallProgress p = Downloading(4000000, 3000000);
    EXPECT_EQ(ProgressFraction(p), 1.0f);
    EXPECT_EQ(FormatPercent(ProgressFraction(p)), u"100%");
    EXPECT_EQ(FillWidth(ProgressFraction(p)), kTrackWidth);
    EXPECT_EQ(FormatSizeLine(p.bytesDone, p.bytesTotal), u"3.8 MB / 2.9 MB");
}

TEST(InstallingText, TheFillStartsAboveHalfAPercentAndIsNeverNarrowerThanTheBarIsHigh) {
    EXPECT_EQ(FillWidth(ProgressFraction(Downloading(5, 1000))), 0.0f);  // p = 0.005
    EXPECT_EQ(FillWidth(ProgressFraction(Downloading(4, 1000))), 0.0f);
    EXPECT_EQ(FillWidth(ProgressFraction(Downloading(6, 1000))), 6.0f);   // p = 0.006
    EXPECT_EQ(FillWidth(ProgressFraction(Downloading(10, 1000))), 6.0f);  // p = 0.01: minimum
    EXPECT_NEAR(FillWidth(ProgressFraction(Downloading(20, 1000))), 7.36f, 1e-4f);
    EXPECT_EQ(FormatPercent(ProgressFraction(Downloading(4, 1000))), u"0%");
    EXPECT_EQ(FormatPercent(ProgressFraction(Downloading(10, 1000))), u"1%");
}

TEST(InstallingText, TheMovingSegmentEntersCrossesAndLeavesTheTrackOncePerPhase) {
    for (float whole : {0.0f, 1.0f, 7.0f}) {
        EXPECT_FALSE(MovingSegment(whole).visible) << whole;
    }
    TrackSpan s = MovingSegment(0.5f);
    ASSERT_TRUE(s.visible);
    EXPECT_NEAR(s.left, 172.0f, 1e-3f);
    EXPECT_NEAR(s.right, 268.0f, 1e-3f);

    s = MovingSegment(0.1f);
    ASSERT_TRUE(s.visible);
    EXPECT_EQ(s.left, 36.0f);  // clipped at the track's left end
    EXPECT_NEAR(s.right, 82.4f, 1e-3f);

    s = MovingSegment(3.5f);  // the phase only grows; its whole part does not matter
    EXPECT_NEAR(s.left, 172.0f, 1e-3f);

    s = MovingSegment(0.95f);
    ASSERT_TRUE(s.visible);
    EXPECT_EQ(s.right, 404.0f);  // clipped at the right end
    EXPECT_NEAR(s.left, 0.95f * 464.0f - 60.0f, 1e-3f);

    // A sliver of two pixels or less at either end is not drawn.
    EXPECT_FALSE(MovingSegment(1.0f / 464.0f).visible);    // 36 .. 37
    EXPECT_TRUE(MovingSegment(3.0f / 464.0f).visible);     // 36 .. 39
    EXPECT_TRUE(MovingSegment(461.0f / 464.0f).visible);   // 401 .. 404
    EXPECT_FALSE(MovingSegment(463.0f / 464.0f).visible);  // 403 .. 404
}

}  // namespace
