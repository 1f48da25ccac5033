#include "ui/paint_win.h"

#include <algorithm>
#include <cmath>
#include <string>

#include "app/focus.h"
#include "app/hit_test.h"
#include "app/state.h"
#include "ui/paint_text.h"
#include "ui/primitives_win.h"

using namespace Gdiplus;
using namespace Gdiplus::DllExports;

namespace {

void FillVerticalGradient(GpGraphics* g, float y0, float y1, Argb top, Argb bottom, float x,
                          float y, float w, float h) {
    const PointF from(0.0f, y0);
    const PointF to(0.0f, y1);
    GdipLinearBrush brush;
    GdipCreateLineBrush(&from, &to, top, bottom, WrapModeTile, brush.put());
    GdipFillRectangle(g, brush.get(), x, y, w, h);
}

void DrawStraightLine(GpGraphics* g, Argb color, float width, float x0, float y0, float x1,
                      float y1) {
    GdipPen pen;
    GdipCreatePen1(color, width, UnitWorld, pen.put());
    GdipDrawLine(g, pen.get(), x0, y0, x1, y1);
}

void DrawTitleButtons(GpGraphics* g, const InstallerState& state) {
    const LayoutRect& m = state.minimizeRect;
    const bool minimizeHot = state.hoverTarget == HitTarget::Minimize;
    if (minimizeHot) FillRoundedRect(g, m.x, m.y, m.width, m.height, 2.0f, 0xFF2A3848);
    DrawStraightLine(g, minimizeHot ? colorWhite : colorMuted, 1.4f, m.x + 9.0f, m.y + 13.5f,
                     m.x + 19.0f, m.y + 13.5f);

    const LayoutRect& c = state.closeRect;
    const bool closeHot = state.hoverTarget == HitTarget::Close;
    if (closeHot) FillRoundedRect(g, c.x, c.y, c.width, c.height, 2.0f, 0xFFAD3838);
    GdipPen pen;
    GdipCreatePen1(closeHot ? colorWhite : colorMuted, 1.4f, UnitWorld, pen.put());
    GdipSetPenStartCap(pen.get(), LineCapRound);
    GdipSetPenEndCap(pen.get(), LineCapRound);
    const float cx = c.x + c.width * 0.5f;
    const float cy = c.y + c.height * 0.5f;
    GdipDrawLine(g, pen.get(), cx - 4.2f, cy - 4.2f, cx + 4.2f, cy + 4.2f);
    GdipDrawLine(g, pen.get(), cx + 4.2f, cy - 4.2f, cx - 4.2f, cy + 4.2f);
}

void DrawLogo(GpGraphics* g, const InstallerState& state) {
    auto* logo = static_cast<GpImage*>(state.logo.get());
    if (!logo) return;
    UINT width = 0;
    UINT height = 0;
    GdipGetImageWidth(logo, &width);
    GdipGetImageHeight(logo, &height);
    if (width == 0 || height == 0) return;
    // 236 wide, centred in the window and in the band between the header and the controls.
    const float drawnHeight = 236.0f / (static_cast<float>(width) / static_cast<float>(height));
    GdipDrawImageRect(g, logo, 102.0f, (110.0f - drawnHeight) * 0.5f + 36.0f, 236.0f, drawnHeight);
}

// The layer that no screen, hover or focus changes. The title buttons, drawn after it, lie in the
// header where neither the logo nor anything else drawn here reaches.
void DrawBackdrop(GpGraphics* g, const InstallerState& state) {
    FillVerticalGradient(g, 36.0f, 336.0f, 0xFF1E2E41, 0xFF172230, 0.0f, 0.0f, 440.0f, 336.0f);
    FillVerticalGradient(g, 0.0f, 36.0f, 0xFF252B34, 0xFF13161C, 0.0f, 0.0f, 440.0f, 36.0f);
    DrawStraightLine(g, 0x16FFFFFF, 1.0f, 1.0f, 1.0f, 439.0f, 1.0f);
    DrawStraightLine(g, 0xFF090B0F, 1.0f, 0.0f, 36.0f, 440.0f, 36.0f);
    FillVerticalGradient(g, 36.5f, 43.0f, 0x46000000, 0x00000000, 0.0f, 36.5f, 440.0f, 6.5f);
    DrawLogo(g, state);
}

void DrawReady(GpGraphics* g, const InstallerState& state, const PaintFonts& fonts) {
    FillRoundedRect(g, 36.0f, 146.0f, 368.0f, 38.0f, 2.0f, colorField);
    StrokeRoundedRect(g, 36.0f, 146.0f, 368.0f, 38.0f, 2.0f, colorBorder, 1.0f);
    DrawLabel(g, state.installDir.c_str(), fonts.body.get(), fonts.left.get(), colorTextSoft, 46.0f,
              146.0f, 272.0f, 38.0f);
    DrawSecondaryButton(g, state.browseRect, state.hoverTarget == HitTarget::Browse,
                        fonts.smallBold.get(), u"Browse", fonts);
    DrawCheckBox(g, state.shortcutCheckRect, state.createDesktopShortcut,
                 state.hoverTarget == HitTarget::DesktopShortcut, u"Desktop shortcut", fonts);
    DrawCheckBox(g, state.launchCheckRect, state.launchAfterInstall,
                 state.hoverTarget == HitTarget::LaunchAfterInstall, u"Launch after install",
                 fonts);
    DrawPrimaryButton(g, state.wideButtonRect, state.hoverTarget == HitTarget::Primary,
                      state.pressedTarget == HitTarget::Primary, u"Install", fonts);
}

void DrawInstalling(GpGraphics* g, const InstallerState& state, const InstallProgress& progress,
                    const PaintFonts& fonts) {
    DrawLabel(g, progress.statusText.c_str(), fonts.strong.get(), fonts.left.get(), colorWhite,
              36.0f, 158.0f, 280.0f, 22.0f);
    const bool known = HasKnownTotal(progress);
    const float p = ProgressFraction(progress);
    if (known) {
        DrawLabel(g, FormatPercent(p).c_str(), fonts.strong.get(), fonts.right.get(), colorAccent,
                  330.0f, 158.0f, 74.0f, 22.0f);
    }

    FillRoundedRect(g, kTrackLeft, 192.0f, kTrackWidth, kTrackHeight, 3.0f, colorTrack);
    StrokeRoundedRect(g, kTrackLeft, 192.0f, kTrackWidth, kTrackHeight, 3.0f, colorBorder, 0.8f);
    if (progress.indeterminate) {
        const TrackSpan segment = MovingSegment(state.animPhase);
        if (segment.visible) {
            FillRoundedRect(g, segment.left, 192.0f, segment.right - segment.left, kTrackHeight,
                            3.0f, colorAccent);
        }
    } else if (const float fill = FillWidth(p); fill > 0.0f) {
        FillRoundedRect(g, kTrackLeft, 192.0f, fill, kTrackHeight, 3.0f, colorAccent);
    }

    if (known) {
        DrawLabel(g, FormatSizeLine(progress.bytesDone, progress.bytesTotal).c_str(),
                  fonts.small.get(), fonts.left.get(), colorMuted, 36.0f, 208.0f, 200.0f, 18.0f);
        const std::u16string speed = FormatSpeed(progress.bytesPerSecond);
        if (!speed.empty()) {
            DrawLabel(g, speed.c_str(), fonts.small.get(), fonts.right.get(), colorMuted, 240.0f,
                      208.0f, 164.0f, 18.0f);
        }
    } else if (!progress.noteText.empty()) {
        DrawLabel(g, progress.noteText.c_str(), fonts.small.get(), fonts.left.get(), colorMuted,
                  36.0f, 208.0f, 368.0f, 18.0f);
    }
    DrawSecondaryButton(g, state.wideButtonRect, state.hoverTarget == HitTarget::Secondary,
                        fonts.button.get(), u"Cancel", fonts);
}

void DrawDone(GpGraphics* g, const InstallerState& state, const PaintFonts& fonts) {
    {
        const PointF from(220.0f, 156.0f);
        const PointF to(220.0f, 196.0f);
        GdipLinearBrush rim;
        GdipCreateLineBrush(&from, &to, 0xFFA4D007, 0xFF536904, WrapModeTile, rim.put());
        GdipFillEllipse(g, rim.get(), 200.0f, 156.0f, 40.0f, 40.0f);
    }
    {
        const PointF from(220.0f, 157.0f);
        const PointF to(220.0f, 195.0f);
        GdipLinearBrush face;
        GdipCreateLineBrush(&from, &to, 0xFF799905, 0xFF536904, WrapModeTile, face.put());
        GdipFillEllipse(g, face.get(), 201.0f, 157.0f, 38.0f, 38.0f);
    }
    {
        GdipPen pen;
        GdipCreatePen1(colorWhite, 2.6f, UnitWorld, pen.put());
        GdipSetPenStartCap(pen.get(), LineCapRound);
        GdipSetPenEndCap(pen.get(), LineCapRound);
        GdipSetPenLineJoin(pen.get(), LineJoinRound);
        const PointF tick[] = {{212.0f, 176.5f}, {218.0f, 182.5f}, {228.5f, 170.5f}};
        GdipDrawLines(g, pen.get(), tick, 3);
    }
    DrawLabel(g, u"Installed", fonts.strong.get(), fonts.center.get(), colorWhite, 36.0f, 210.0f,
              368.0f, 24.0f);
    DrawPrimaryButton(g, state.leftButtonRect, state.hoverTarget == HitTarget::Primary,
                      state.pressedTarget == HitTarget::Primary, u"Launch", fonts);
    DrawSecondaryButton(g, state.rightButtonRect, state.hoverTarget == HitTarget::Secondary,
                        fonts.button.get(), u"Close", fonts);
}

void DrawError(GpGraphics* g, const InstallerState& state, const InstallProgress& progress,
               const PaintFonts& fonts) {
    FillRoundedRect(g, 36.0f, 148.0f, 368.0f, 94.0f, 2.0f, 0xFF34181C);
    StrokeRoundedRect(g, 36.0f, 148.0f, 368.0f, 94.0f, 2.0f, 0xFF943A40, 1.0f);
    DrawLabel(g, u"Installation failed", fonts.strong.get(), fonts.left.get(), 0xFFF59EA2, 50.0f,
              160.0f, 340.0f, 22.0f);
    // The message wraps inside its box; what does not fit is cut off.
    GdipStringFormat topLeft = MakeStringFormat(StringAlignmentNear, StringAlignmentNear);
    DrawLabel(g, progress.errorText.c_str(), fonts.body.get(), topLeft.get(), colorTextSoft, 50.0f,
              186.0f, 340.0f, 48.0f);
    DrawPrimaryButton(g, state.leftButtonRect, state.hoverTarget == HitTarget::Primary,
                      state.pressedTarget == HitTarget::Primary, u"Retry", fonts);
    DrawSecondaryButton(g, state.rightButtonRect, state.hoverTarget == HitTarget::Secondary,
                        fonts.button.get(), u"Close", fonts);
}

// The keyboard focus: an outline a little outside the focused control, in the accent colour. It
// is drawn in logical pixels, so it scales with the DPI like everything else.
void DrawFocusCue(GpGraphics* g, const InstallerState& state, InstallStage stage) {
    LayoutRect r{};
    if (!ControlRect(state, stage, FocusedControl(state, stage), &r)) return;
    StrokeRoundedRect(g, r.x - kFocusCueGap, r.y - kFocusCueGap, r.width + 2 * kFocusCueGap,
                      r.height + 2 * kFocusCueGap, 4.0f, colorAccent, kFocusCueWidth);
}

void SetUpGraphics(GpGraphics* graphics, float scale) {
    GdipSetSmoothingMode(graphics, SmoothingModeHighQuality);
    GdipSetInterpolationMode(graphics, InterpolationModeHighQualityBicubic);
    GdipSetTextRenderingHint(graphics, TextRenderingHintClearTypeGridFit);
    GdipSetPixelOffsetMode(graphics, PixelOffsetModeHalf);
    GdipScaleWorldTransform(graphics, scale, scale, MatrixOrderPrepend);
}

// Everything over the backdrop, in the order it is always drawn.
void DrawChangingLayer(GpGraphics* graphics, const InstallerState& state,
                       const InstallProgress& progress, const PaintFonts& fonts) {
    DrawTitleButtons(graphics, state);
    switch (progress.stage) {
        case InstallStage::Ready:
            DrawReady(graphics, state, fonts);
            break;
        case InstallStage::Installing:
            DrawInstalling(graphics, state, progress, fonts);
            break;
        case InstallStage::Done:
            DrawDone(graphics, state, fonts);
            break;
        case InstallStage::Error:
            DrawError(graphics, state, progress, fonts);
            break;
    }
    if (state.focusVisible) DrawFocusCue(graphics, state, progress.stage);
    GdipPen border;
    GdipCreatePen1(colorBorder, 1.0f, UnitWorld, border.put());
    GdipDrawRectangle(graphics, border.get(), 0.5f, 0.5f, 439.0f, 335.0f);
}

LONG Floor(float v) {
    return static_cast<LONG>(std::floor(v));
}
LONG Ceil(float v) {
    return static_cast<LONG>(std::ceil(v));
}

// Logical to device pixels, rounded outwards, a pixel to spare on each side.
RECT DeviceArea(float x0, float y0, float x1, float y1, float scale) {
    return RECT{Floor(x0 * scale) - 1, Floor(y0 * scale) - 1, Ceil(x1 * scale) + 1,
                Ceil(y1 * scale) + 1};
}

// The cached layer and the back buffer for this size and scale; false when they cannot be made,
// and the paint then goes the long way.
bool PrepareCache(PaintCache& cache, const InstallerState& state, int width, int height) {
    if (cache.buffer && cache.width == width && cache.height == height &&
        cache.scale == state.dpiScale)
        return true;
    cache.painted = false;
    cache.buffer.reset();
    cache.bufferDc.reset();
    cache.bufferBitmap.reset();
    cache.bufferPixels = nullptr;
    cache.backdrop.reset();
    cache.backdropPixels.assign(static_cast<size_t>(width) * static_cast<size_t>(height), 0);
    GdipCreateBitmapFromScan0(width, height, width * 4, PixelFormat32bppPARGB,
                              reinterpret_cast<BYTE*>(cache.backdropPixels.data()),
                              cache.backdrop.put());
    if (!cache.backdrop) return false;
    {
        GdipGraphics g;
        GdipGetImageGraphicsContext(cache.backdrop.get(), g.put());
        if (!g) return false;
        SetUpGraphics(g.get(), state.dpiScale);
        DrawBackdrop(g.get(), state);
    }
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(info.bmiHeader);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;  // top-down, like the GDI+ bitmap over it
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    cache.bufferBitmap.reset(CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0));
    cache.bufferDc.reset(CreateCompatibleDC(nullptr));
    if (!cache.bufferBitmap || !cache.bufferDc || !bits) return false;
    SelectObject(cache.bufferDc.get(), cache.bufferBitmap.get());
    cache.bufferPixels = static_cast<uint32_t*>(bits);
    GdipCreateBitmapFromScan0(width, height, width * 4, PixelFormat32bppPARGB,
                              static_cast<BYTE*>(bits), cache.buffer.put());
    if (!cache.buffer) return false;
    if (!cache.fonts) cache.fonts.emplace(MakePaintFonts());
    cache.width = width;
    cache.height = height;
    cache.scale = state.dpiScale;
    return true;
}

// The whole window through a buffer of its own, when the cache cannot be had.
void PaintWithoutCache(InstallerState& state, HDC dc, int width, int height) {
    GdipBitmap buffer;
    GdipCreateBitmapFromScan0(width, height, 0, PixelFormat32bppPARGB, nullptr, buffer.put());
    {
        GdipGraphics offscreen;
        GdipGetImageGraphicsContext(buffer.get(), offscreen.put());
        if (offscreen) PaintInstaller(offscreen.get(), state, state.dpiScale);
    }
    GdipGraphics screen;
    GdipCreateFromHDC(dc, screen.put());
    GdipDrawImageI(screen.get(), buffer.get(), 0, 0);
}

}  // namespace

void PaintInstaller(GpGraphics* graphics, InstallerState& state, float scale) {
    SetUpGraphics(graphics, scale);
    // The worker may publish meanwhile: draw from one consistent copy, without holding the lock.
    const InstallProgress progress = SnapshotProgress(state);
    const PaintFonts fonts = MakePaintFonts();
    DrawBackdrop(graphics, state);
    DrawChangingLayer(graphics, state, progress, fonts);
}

void PaintWindow(InstallerState& state, HWND window, HDC dc, const RECT& dirty, PaintCache& cache) {
    RECT client{};
    GetClientRect(window, &client);
    const INT width = std::max<INT>(1, client.right - client.left);
    const INT height = std::max<INT>(1, client.bottom - client.top);
    if (!PrepareCache(cache, state, width, height)) {
        cache = PaintCache{};
        PaintWithoutCache(state, dc, width, height);
        return;
    }
    const InstallProgress progress = SnapshotProgress(state);
    RECT area{};
    const RECT whole{0, 0, width, height};
    if (!IntersectRect(&area, &dirty, &whole)) return;
    if (!cache.painted || cache.paintedStage != progress.stage) {
        // Another screen: nothing in the buffer is of use, and the paint DC may only take the
        // dirty part of it now.
        if (!EqualRect(&area, &whole)) InvalidateRect(window, nullptr, FALSE);
        area = whole;
    }
    const size_t left = static_cast<size_t>(area.left);
    const size_t count = static_cast<size_t>(area.right - area.left);
    for (LONG y = area.top; y < area.bottom; ++y) {
        const size_t row = static_cast<size_t>(y) * static_cast<size_t>(width) + left;
        std::copy_n(cache.backdropPixels.data() + row, count, cache.bufferPixels + row);
    }
    {
        GdipGraphics g;
        GdipGetImageGraphicsContext(cache.buffer.get(), g.put());
        if (!g) return;
        GdipSetClipRectI(g.get(), area.left, area.top, area.right - area.left,
                         area.bottom - area.top, CombineModeReplace);
        SetUpGraphics(g.get(), state.dpiScale);
        DrawChangingLayer(g.get(), state, progress, *cache.fonts);
    }
    GdiFlush();
    BitBlt(dc, area.left, area.top, area.right - area.left, area.bottom - area.top,
           cache.bufferDc.get(), area.left, area.top, SRCCOPY);
    cache.painted = true;
    cache.paintedStage = progress.stage;
}

RECT ProgressArea(float scale) {
    return DeviceArea(36.0f, 158.0f, 404.0f, 226.0f, scale);
}

RECT ControlArea(const LayoutRect& r, float scale) {
    const float margin = kFocusCueGap + kFocusCueWidth;
    return DeviceArea(r.x - margin, r.y - margin, r.x + r.width + margin, r.y + r.height + margin,
                      scale);
}
