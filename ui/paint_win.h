// The installer window drawn from a snapshot of the state. Windows-only header.
#pragma once

#include <windows.h>
#include <objidl.h>
#include <gdiplus.h>

#include <cstdint>
#include <optional>
#include <vector>

#include "common/gdiplus_handles_win.h"
#include "common/handles_win.h"
#include "ui/primitives_win.h"

struct InstallerState;

// The focus outline: its distance outside the focused control and its pen width, logical pixels.
inline constexpr float kFocusCueGap = 3.0f;
inline constexpr float kFocusCueWidth = 1.5f;

// Draws the whole 440 by 336 window in logical pixels, scaled by `scale`: the frame, the screen
// of the current stage and the border. Reads the state, changes nothing in it.
void PaintInstaller(Gdiplus::GpGraphics* graphics, InstallerState& state, float scale);

// What the window keeps from one paint to the next, so that a paint draws only what changed: the
// layer no screen changes (the gradients, their lines and the logo) made once per size and scale,
// the back buffer the window is composed in, and the fonts. Members end in reverse order: the
// GDI+ bitmaps before the pixels under them, the DC before the bitmap selected into it.
struct PaintCache {
    int width = 0;
    int height = 0;
    float scale = 0.0f;
    std::vector<uint32_t> backdropPixels;
    GdipBitmap backdrop;
    UniqueGdiObject bufferBitmap;  // a top-down 32-bit DIB section
    UniqueMemoryDc bufferDc;
    uint32_t* bufferPixels = nullptr;
    GdipBitmap buffer;
    std::optional<PaintFonts> fonts;
    bool painted = false;  // the buffer holds a whole window of paintedStage's screen
    InstallStage paintedStage = InstallStage::Ready;
};

// The WM_PAINT body, between BeginPaint and EndPaint: `dirty` (device pixels) is composed at
// dpiScale from the cached layer and the changing parts, exactly as PaintInstaller draws it, and
// copied to the paint DC. A screen other than the one painted last is composed whole, and the
// window is asked for a whole paint when `dirty` was less.
void PaintWindow(InstallerState& state, HWND window, HDC dc, const RECT& dirty, PaintCache& cache);

// Where the Installing screen's progress lies (its status, percentage, bar, sizes and note), in
// device pixels at `scale`, with a pixel to spare for smoothed edges: what a progress report or
// an animation tick changes.
RECT ProgressArea(float scale);

// Where a control and its focus outline lie, in device pixels at `scale`.
RECT ControlArea(const LayoutRect& control, float scale);
