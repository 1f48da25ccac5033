// PaintInstaller read back from pixels at scale 2: title-bar hover looks, the bar of the
// Installing screen in its determinate and moving forms, the pressed Install button, the logo
// band, and what an unknown stage draws.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "app/install_start.h"
#include "app/state.h"
#include "common/handles_win.h"
#include "tests/ui/canvas_win.h"
#include "ui/assets.h"
#include "ui/paint_win.h"
#include "ui/primitives_win.h"

using namespace Gdiplus;
using namespace Gdiplus::DllExports;

namespace {

class Painter : public GdiplusTest {};

Canvas Paint(InstallerState& state) {
    Canvas c = MakeCanvas(false);
    PaintInstaller(c.graphics.get(), state, 2.0f);
    return c;
}

void SetProgress(InstallerState& state, uint64_t done, uint64_t total, bool indeterminate = false) {
    InstallProgress p;
    p.stage = InstallStage::Installing;
    p.statusText = indeterminate ? u"Connecting" : u"Downloading";
    p.bytesDone = done;
    p.bytesTotal = total;
    p.indeterminate = indeterminate;
    PublishProgress(state, p, false);
}

// The device columns of the track's middle row (logical y 195) that show the accent colour.
std::vector<int> AccentColumns(const Canvas& c) {
    std::vector<int> columns;
    for (int x = 0; x < 880; ++x) {
        ARGB p = 0;
        GdipBitmapGetPixel(c.bitmap.get(), x, 390, &p);
        if (ColourNear(p, colorAccent, 12)) columns.push_back(x);
    }
    return columns;
}

// Whether the accent colour (percentage text) appears in a logical rectangle.
bool AccentIn(const Canvas& c, float x0, float y0, float x1, float y1) {
    for (float y = y0; y < y1; y += 0.5f)
        for (float x = x0; x < x1; x += 0.5f)
            if (ColourNear(At(c, x, y), colorAccent, 24)) return true;
    return false;
}

TEST_F(Painter, FillStartsAboveHalfAPercentAtSixPixelsAndIsFullBeyondTheTotal) {
    InstallerState state;
    SetProgress(state, 5, 1000);
    EXPECT_TRUE(AccentColumns(Paint(state)).empty());

    SetProgress(state, 10, 1000);
    std::vector<int> fill = AccentColumns(Paint(state));
    ASSERT_FALSE(fill.empty());
    EXPECT_NEAR(fill.front(), 72, 1);
    EXPECT_NEAR(fill.back(), 83, 1);  // 6 logical pixels

    SetProgress(state, 4000000, 3000000);
    fill = AccentColumns(Paint(state));
    ASSERT_FALSE(fill.empty());
    EXPECT_NEAR(fill.front(), 72, 1);
    EXPECT_NEAR(fill.back(), 807, 1);
}

TEST_F(Painter, AnUnknownTotalLeavesTheTrackEmptyAndShowsNoNumbers) {
    InstallerState state;
    SetProgress(state, 500000, 0);
    const Canvas c = Paint(state);
    EXPECT_TRUE(AccentColumns(c).empty());
    EXPECT_FALSE(AccentIn(c, 330, 158, 404, 180));
    // The size line's place shows only the body.
    EXPECT_TRUE(ColourNear(Brightest(c, 36, 208, 404, 226), 0xFF1E2E41, 12));
}

TEST_F(Painter, TheMovingBarFollowsThePhaseAndShowsNoPercentage) {
    InstallerState state;
    SetProgress(state, 0, 0, true);
    state.animPhase = 0.0f;
    EXPECT_TRUE(AccentColumns(Paint(state)).empty());

    state.animPhase = 0.5f;
    Canvas c = Paint(state);
    std::vector<int> segment = AccentColumns(c);
    ASSERT_FALSE(segment.empty());
    EXPECT_NEAR(segment.front(), 344, 1);
    EXPECT_NEAR(segment.back(), 535, 1);
    EXPECT_FALSE(AccentIn(c, 330, 158, 404, 180));

    state.animPhase = 2.1f;
    segment = AccentColumns(Paint(state));
    ASSERT_FALSE(segment.empty());
    EXPECT_NEAR(segment.front(), 72, 1);
    EXPECT_NEAR(segment.back(), 164, 1);  // 82.4 × 2
}

TEST_F(Painter, TitleBarButtonsLightUpOnlyWhenHovered) {
    InstallerState state;
    const Canvas idle = Paint(state);
    state.hoverTarget = HitTarget::Minimize;
    const Canvas minimize = Paint(state);
    state.hoverTarget = HitTarget::Close;
    const Canvas close = Paint(state);

    const uint32_t header = Mix(0xFF252B34, 0xFF13161C, 8.25f / 36.0f);
    EXPECT_TRUE(ColourNear(At(idle, 373, 8), header, 5));
    EXPECT_TRUE(ColourNear(At(idle, 405, 8), header, 5));
    EXPECT_TRUE(ColourNear(At(minimize, 373, 8), 0xFF2A3848));
    EXPECT_TRUE(ColourNear(At(minimize, 405, 8), header, 5));
    EXPECT_TRUE(ColourNear(At(close, 405, 8), 0xFFAD3838));
    EXPECT_TRUE(ColourNear(At(close, 373, 8), header, 5));

    // The glyphs: muted when idle, white when hovered (minimise bar at y 18.5, close cross
    // through the centre of its button).
    EXPECT_TRUE(ColourNear(At(idle, 384, 18.5f), colorMuted, 10));
    EXPECT_TRUE(ColourNear(At(minimize, 384, 18.5f), colorWhite, 10));
    EXPECT_TRUE(ColourNear(At(idle, 416, 18), colorMuted, 10));
    EXPECT_TRUE(ColourNear(At(close, 416, 18), colorWhite, 10));
}

TEST_F(Painter, PressingInstallDarkensItsBody) {
    InstallerState state;
    state.pressedTarget = HitTarget::Primary;
    EXPECT_TRUE(
        ColourNear(At(Paint(state), 60, 270), Mix(0xFF627D05, 0xFF485C03, 5.25f / 40.0f), 6));
    state.pressedTarget = HitTarget::None;
    EXPECT_TRUE(
        ColourNear(At(Paint(state), 60, 270), Mix(0xFF799905, 0xFF536904, 5.25f / 40.0f), 6));
}

TEST_F(Painter, AClearedCheckBoxHasNoTick) {
    InstallerState state;
    state.createDesktopShortcut = false;
    const Canvas c = Paint(state);
    EXPECT_TRUE(ColourNear(At(c, 46, 209.5f), colorField));        // first row: cleared
    EXPECT_TRUE(ColourNear(At(c, 46, 209.5f + 28), colorAccent));  // second row: ticked
    EXPECT_TRUE(ColourNear(At(c, 36, 209.5f), colorBorder));
}

TEST_F(Painter, AnUnknownStageDrawsOnlyTheFrameAndTheBorder) {
    InstallerState state;
    InstallProgress p;
    p.stage = static_cast<InstallStage>(7);
    PublishProgress(state, p, false);
    const Canvas c = Paint(state);
    const uint32_t body = Mix(0xFF1E2E41, 0xFF172230, (150.25f - 36.0f) / 300.0f);
    EXPECT_TRUE(ColourNear(At(c, 40, 150), body));  // no folder field
    EXPECT_TRUE(ColourNear(At(c, 60, 285), Mix(0xFF1E2E41, 0xFF172230, 249.25f / 300.0f)));
    EXPECT_TRUE(ColourNear(At(c, 0, 200), colorBorder));
    EXPECT_TRUE(ColourNear(At(c, 439.5f, 200), colorBorder));
}

TEST_F(Painter, ErrorScreenWithoutAMessageShowsPanelHeadingAndButtons) {
    InstallerState state;
    FailInstall(state, u"");
    const Canvas c = Paint(state);
    EXPECT_TRUE(ColourNear(Brightest(c, 50, 188, 390, 234), 0xFF34181C, 4)) << "message text";
    EXPECT_FALSE(ColourNear(Brightest(c, 50, 162, 200, 180), 0xFF34181C, 4)) << "no heading";
    EXPECT_TRUE(ColourNear(At(c, 36, 200), 0xFF943A40));
}

TEST_F(Painter, AVeryLongFolderStaysOnOneLineInsideItsTextBox) {
    InstallerState state;
    state.installDir = u"C:\\Users\\someone\\AppData\\Local";
    for (int i = 0; i < 12; ++i) state.installDir += u"\\AVeryLongFolderName";
    const Canvas c = Paint(state);
    // Text fills the box up to its right end at x 318, and nothing is drawn past it or on a
    // second line. (The ellipsis itself cannot be told apart from clipping in pixels.)
    EXPECT_FALSE(ColourNear(Brightest(c, 300, 158, 318, 172), colorField, 20));
    EXPECT_TRUE(ColourNear(Brightest(c, 318.5f, 147, 324.5f, 183), colorField, 2));
    EXPECT_TRUE(ColourNear(Brightest(c, 40, 175, 318, 183), colorField, 2));
    EXPECT_TRUE(ColourNear(Brightest(c, 40, 147, 318, 155), colorField, 2));
}

// Left edge of the outline around a control and a point on it, one per focusable control.
struct CueCase {
    const char* what;
    InstallStage stage;
    HitTarget focus;
    float x, y;  // on the outline: kFocusCueGap outside the control's left or top edge
};

TEST_F(Painter, TheFocusCueOutlinesOnlyTheFocusedControlAndOnlyOnceShown) {
    const CueCase cases[] = {
        {"Browse", InstallStage::Ready, HitTarget::Browse, 322, 165},
        {"Desktop shortcut", InstallStage::Ready, HitTarget::DesktopShortcut, 200, 195},
        {"Launch after install", InstallStage::Ready, HitTarget::LaunchAfterInstall, 200, 223},
        {"Install", InstallStage::Ready, HitTarget::Primary, 33, 285},
        {"Cancel", InstallStage::Installing, HitTarget::Secondary, 33, 285},
        {"Launch", InstallStage::Done, HitTarget::Primary, 33, 285},
        {"Close on Done", InstallStage::Done, HitTarget::Secondary, 279, 285},
        {"Retry", InstallStage::Error, HitTarget::Primary, 33, 285},
        {"Close on Error", InstallStage::Error, HitTarget::Secondary, 279, 285},
    };
    for (const CueCase& c : cases) {
        SCOPED_TRACE(c.what);
        InstallerState state;
        InstallProgress p;
        p.stage = c.stage;
        PublishProgress(state, p, false);
        state.focusTarget = c.focus;
        state.focusStage = c.stage;
        const uint32_t hidden = At(Paint(state), c.x, c.y);
        EXPECT_FALSE(ColourNear(hidden, colorAccent, 40)) << "the cue shows before any key";
        state.focusVisible = true;
        const Canvas shown = Paint(state);
        EXPECT_TRUE(ColourNear(At(shown, c.x, c.y), colorAccent, 40));
        // Every other control's outline place keeps its look.
        for (const CueCase& other : cases) {
            if (other.stage != c.stage || other.focus == c.focus) continue;
            EXPECT_FALSE(ColourNear(At(shown, other.x, other.y), colorAccent, 40)) << other.what;
        }
    }
}

TEST_F(Painter, AFocusLeftOnAnEarlierScreenOutlinesTheNewScreensPrimaryButton) {
    InstallerState state;
    state.focusVisible = true;
    state.focusTarget = HitTarget::Browse;
    state.focusStage = InstallStage::Ready;
    FailInstall(state, u"");
    const Canvas c = Paint(state);
    EXPECT_TRUE(ColourNear(At(c, 33, 285), colorAccent, 40)) << "Retry";
    EXPECT_FALSE(ColourNear(At(c, 322, 165), colorAccent, 40)) << "the old Browse place";
}

}  // namespace

namespace {

// The window's paint path against the painter: a hidden window of the size a scale gives, a
// 32-bit DIB standing in for the screen, and the painter's own picture of the same state.
class WindowPaint : public GdiplusTest {
protected:
    void Start(float scale) {
        scale_ = scale;
        width_ = static_cast<int>(std::roundf(440.0f * scale));
        height_ = static_cast<int>(std::roundf(336.0f * scale));
        WNDCLASSEXW wc{};
        wc.cbSize = sizeof(wc);
        wc.lpfnWndProc = DefWindowProcW;
        wc.hInstance = GetModuleHandleW(nullptr);
        wc.lpszClassName = L"VarnokWindowPaintTest";
        RegisterClassExW(&wc);
        window_.reset(CreateWindowExW(0, wc.lpszClassName, L"", WS_POPUP, 0, 0, width_, height_,
                                      nullptr, nullptr, wc.hInstance, nullptr));
        ASSERT_TRUE(window_);
        BITMAPINFO info{};
        info.bmiHeader.biSize = sizeof(info.bmiHeader);
        info.bmiHeader.biWidth = width_;
        info.bmiHeader.biHeight = -height_;  // top-down, as the cache's buffer
        info.bmiHeader.biPlanes = 1;
        info.bmiHeader.biBitCount = 32;
        info.bmiHeader.biCompression = BI_RGB;
        void* bits = nullptr;
        screen_.reset(CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0));
        screenDc_.reset(CreateCompatibleDC(nullptr));
        ASSERT_TRUE(screen_ && screenDc_ && bits);
        SelectObject(screenDc_.get(), screen_.get());
        screenPixels_ = static_cast<const uint32_t*>(bits);
        state_.dpiScale = scale;
        LoadInstallerAssets(state_);
    }
    void TearDown() override {
        cache_ = PaintCache{};
        state_.logo.reset();
    }

    void PaintDirty(const RECT& dirty) {
        PaintWindow(state_, window_.get(), screenDc_.get(), dirty, cache_);
    }
    void PaintWhole() { PaintDirty(RECT{0, 0, width_, height_}); }

    // The first pixel where the window's screen differs from the painter's picture, or none.
    ::testing::AssertionResult MatchesThePainter(const char* what) {
        std::vector<uint32_t> expected(static_cast<size_t>(width_) * height_);
        GdipBitmap bitmap;
        GdipCreateBitmapFromScan0(width_, height_, width_ * 4, PixelFormat32bppPARGB,
                                  reinterpret_cast<BYTE*>(expected.data()), bitmap.put());
        {
            GdipGraphics g;
            GdipGetImageGraphicsContext(bitmap.get(), g.put());
            PaintInstaller(g.get(), state_, scale_);
        }
        GdiFlush();
        for (size_t i = 0; i < expected.size(); ++i) {
            if ((screenPixels_[i] & 0xFFFFFF) != (expected[i] & 0xFFFFFF)) {
                char text[160];
                std::snprintf(text, sizeof(text),
                              "%s at scale %g: pixel (%d, %d) is %06X, painted %06X", what,
                              static_cast<double>(scale_), static_cast<int>(i % width_),
                              static_cast<int>(i / width_),
                              static_cast<unsigned>(screenPixels_[i] & 0xFFFFFF),
                              static_cast<unsigned>(expected[i] & 0xFFFFFF));
                return ::testing::AssertionFailure() << text;
            }
        }
        return ::testing::AssertionSuccess();
    }

    float scale_ = 1.0f;
    int width_ = 0, height_ = 0;
    InstallerState state_;
    UniqueHandle<HWND, &DestroyWindow> window_;
    UniqueGdiObject screen_;
    UniqueMemoryDc screenDc_;
    const uint32_t* screenPixels_ = nullptr;
    PaintCache cache_;
};

TEST_F(WindowPaint, EachRepaintOfOnlyTheChangedAreaLeavesTheWindowAsThePainterDrawsIt) {
    for (const float scale : {1.0f, 1.5f, 2.0f}) {
        Start(scale);
        // Ready, then a hover moving from Browse to the Install button, then the keyboard's
        // focus moving on.
        PaintWhole();
        EXPECT_TRUE(MatchesThePainter("Ready"));
        state_.hoverTarget = HitTarget::Browse;
        PaintDirty(ControlArea(state_.browseRect, scale));
        EXPECT_TRUE(MatchesThePainter("Browse hovered"));
        state_.hoverTarget = HitTarget::Primary;
        PaintDirty(ControlArea(state_.browseRect, scale));
        PaintDirty(ControlArea(state_.wideButtonRect, scale));
        EXPECT_TRUE(MatchesThePainter("Install hovered"));
        state_.focusVisible = true;
        state_.focusTarget = HitTarget::DesktopShortcut;
        PaintWhole();
        state_.focusTarget = HitTarget::LaunchAfterInstall;
        PaintDirty(ControlArea(state_.shortcutCheckRect, scale));
        PaintDirty(ControlArea(state_.launchCheckRect, scale));
        EXPECT_TRUE(MatchesThePainter("focus moved to the second check box"));

        // Another screen arrives with only the progress area dirty: it is painted whole.
        state_.focusVisible = false;
        SetProgress(state_, 0, 0, true);
        PaintDirty(ProgressArea(scale));
        EXPECT_TRUE(MatchesThePainter("Connecting after Ready"));
        // Ticks of the moving bar, then of a download with its sizes and speed.
        for (int tick = 0; tick < 12; ++tick) {
            state_.animPhase += 0.1f;
            PaintDirty(ProgressArea(scale));
        }
        EXPECT_TRUE(MatchesThePainter("the moving bar"));
        for (const uint64_t done : {1u, 999999u, 1850000u, 3000000u}) {
            SetProgress(state_, done, 3000000);
            state_.progress.bytesPerSecond = 14889779.2 / static_cast<double>(done);
            PaintDirty(ProgressArea(scale));
            EXPECT_TRUE(MatchesThePainter("a download tick"));
        }
        InstallProgress waiting = ConnectingProgress(kWaitingForOtherInstallText);
        PublishProgress(state_, waiting, false);
        PaintDirty(ProgressArea(scale));
        EXPECT_TRUE(MatchesThePainter("the wait for another install named"));
        state_.hoverTarget = HitTarget::Secondary;
        PaintDirty(ControlArea(state_.wideButtonRect, scale));
        EXPECT_TRUE(MatchesThePainter("Cancel hovered"));

        InstallProgress error;
        error.stage = InstallStage::Error;
        error.errorText = u"Could not connect to server. Check your internet.";
        PublishProgress(state_, error, true);
        state_.hoverTarget = HitTarget::Close;
        PaintDirty(ControlArea(state_.closeRect, scale));
        EXPECT_TRUE(MatchesThePainter("Error after Installing"));
        TearDown();
        state_.progress = InstallProgress{};
        state_.hoverTarget = HitTarget::None;
    }
}

}  // namespace
