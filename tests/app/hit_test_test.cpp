// What the mouse is over, on every screen, at the edges of every control, at two DPI scales.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "app/hit_test.h"
#include "app/state.h"

namespace {

struct Control {
    const char* name;
    LayoutRect rect;
    HitTarget target;
};

std::vector<Control> ControlsOn(const InstallerState& s, InstallStage stage) {
    std::vector<Control> all{{"minimize", s.minimizeRect, HitTarget::Minimize},
                             {"close", s.closeRect, HitTarget::Close}};
    switch (stage) {
        case InstallStage::Ready:
            all.push_back({"browse", s.browseRect, HitTarget::Browse});
            all.push_back({"shortcut row", s.shortcutCheckRect, HitTarget::DesktopShortcut});
            all.push_back({"launch row", s.launchCheckRect, HitTarget::LaunchAfterInstall});
            all.push_back({"install", s.wideButtonRect, HitTarget::Primary});
            break;
        case InstallStage::Installing:
            all.push_back({"cancel", s.wideButtonRect, HitTarget::Secondary});
            break;
        case InstallStage::Done:
        case InstallStage::Error:
            all.push_back({"launch/retry", s.leftButtonRect, HitTarget::Primary});
            all.push_back({"close button", s.rightButtonRect, HitTarget::Secondary});
            break;
    }
    return all;
}

void SetStage(InstallerState& s, InstallStage stage) {
    InstallProgress p;
    p.stage = stage;
    PublishProgress(s, p, false);
}

// The window procedure turns device pixels into logical ones by dividing by the scale.
HitTarget AtDevicePixel(InstallerState& s, float scale, int x, int y) {
    return HitTest(s, static_cast<float>(x) / scale, static_cast<float>(y) / scale);
}

class HitTestEdges : public ::testing::TestWithParam<std::tuple<InstallStage, float>> {};

// For every control: the first and last device pixel inside it on each axis hit it; the pixel
// just outside on each side does not.
TEST_P(HitTestEdges, EveryControlIsHitUpToItsEdgesAndNotOnePixelOutside) {
    const auto [stage, scale] = GetParam();
    InstallerState s;
    s.dpiScale = scale;
    SetStage(s, stage);
    for (const Control& c : ControlsOn(s, stage)) {
        SCOPED_TRACE(std::string(c.name) + " at scale " + std::to_string(scale));
        const int left = static_cast<int>(std::ceil(c.rect.x * scale));
        const int right = static_cast<int>(std::floor((c.rect.x + c.rect.width) * scale));
        const int top = static_cast<int>(std::ceil(c.rect.y * scale));
        const int bottom = static_cast<int>(std::floor((c.rect.y + c.rect.height) * scale));
        const int midX = (left + right) / 2;
        const int midY = (top + bottom) / 2;
        EXPECT_EQ(AtDevicePixel(s, scale, left, midY), c.target);
        EXPECT_EQ(AtDevicePixel(s, scale, right, midY), c.target);
        EXPECT_EQ(AtDevicePixel(s, scale, midX, top), c.target);
        EXPECT_EQ(AtDevicePixel(s, scale, midX, bottom), c.target);
        EXPECT_EQ(AtDevicePixel(s, scale, left, top), c.target);
        EXPECT_EQ(AtDevicePixel(s, scale, right, bottom), c.target);
        EXPECT_NE(AtDevicePixel(s, scale, left - 1, midY), c.target);
        EXPECT_NE(AtDevicePixel(s, scale, right + 1, midY), c.target);
        EXPECT_NE(AtDevicePixel(s, scale, midX, top - 1), c.target);
        EXPECT_NE(AtDevicePixel(s, scale, midX, bottom + 1), c.target);
    }
}

INSTANTIATE_TEST_SUITE_P(
    AllScreens, HitTestEdges,
    ::testing::Combine(::testing::Values(InstallStage::Ready, InstallStage::Installing,
                                         InstallStage::Done, InstallStage::Error),
                       ::testing::Values(1.0f, 1.5f)));

TEST(HitTest, TheCaptionBandEndsAtY48) {
    InstallerState s;
    EXPECT_EQ(HitTest(s, 100, 0), HitTarget::Caption);
    EXPECT_EQ(HitTest(s, 100, 48), HitTarget::Caption);
    EXPECT_EQ(HitTest(s, 100, 48.5f), HitTarget::None);
    EXPECT_EQ(HitTest(s, 100, 49), HitTarget::None);
    // Between the two title-bar buttons and right of the close button is caption too.
    EXPECT_EQ(HitTest(s, 400, 10), HitTarget::Caption);
    EXPECT_EQ(HitTest(s, 435, 10), HitTarget::Caption);
    // At scale 1.5 the band ends at device row 72.
    s.dpiScale = 1.5f;
    EXPECT_EQ(AtDevicePixel(s, 1.5f, 150, 72), HitTarget::Caption);
    EXPECT_EQ(AtDevicePixel(s, 1.5f, 150, 73), HitTarget::None);
}

TEST(HitTest, TheWholeCheckBoxRowIsTheTargetAndTheGapBetweenRowsIsNot) {
    InstallerState s;
    EXPECT_EQ(HitTest(s, 370, 210), HitTarget::DesktopShortcut);  // far right on the label side
    EXPECT_EQ(HitTest(s, 36, 222), HitTarget::DesktopShortcut);
    EXPECT_EQ(HitTest(s, 100, 224), HitTarget::None);
    EXPECT_EQ(HitTest(s, 100, 226), HitTarget::LaunchAfterInstall);
    EXPECT_EQ(HitTest(s, 377, 210), HitTarget::None);
}

TEST(HitTest, ControlsOfOtherScreensAreNotHit) {
    InstallerState s;
    EXPECT_EQ(HitTest(s, 350, 165), HitTarget::Browse);
    SetStage(s, InstallStage::Installing);
    EXPECT_EQ(HitTest(s, 350, 165), HitTarget::None);
    EXPECT_EQ(HitTest(s, 100, 210), HitTarget::None);
    EXPECT_EQ(HitTest(s, 276, 280), HitTarget::Secondary);  // the wide Cancel button
    SetStage(s, InstallStage::Done);
    EXPECT_EQ(HitTest(s, 276, 280), HitTarget::None);  // the gap between Launch and Close
    EXPECT_EQ(HitTest(s, 350, 165), HitTarget::None);
}

TEST(HitTest, AnUnknownStageHasOnlyTheTitleBarButtonsAndTheCaption) {
    InstallerState s;
    SetStage(s, static_cast<InstallStage>(7));
    EXPECT_EQ(HitTest(s, 380, 10), HitTarget::Minimize);
    EXPECT_EQ(HitTest(s, 410, 10), HitTarget::Close);
    EXPECT_EQ(HitTest(s, 100, 10), HitTarget::Caption);
    EXPECT_EQ(HitTest(s, 100, 280), HitTarget::None);
    EXPECT_EQ(HitTest(s, 350, 165), HitTarget::None);
    EXPECT_EQ(HitTest(s, 100, 210), HitTarget::None);
}

}  // namespace
