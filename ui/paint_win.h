// The installer window drawn from a snapshot of the state. Windows-only header.
#pragma once

#include <windows.h>
#include <objidl.h>
#include <gdiplus.h>

struct InstallerState;

// The focus outline: its distance outside the focused control and its pen width, logical pixels.
inline constexpr float kFocusCueGap = 3.0f;
inline constexpr float kFocusCueWidth = 1.5f;

// Draws the whole 440 by 336 window in logical pixels, scaled by `scale`: the frame, the screen
// of the current stage and the border. Reads the state, changes nothing in it.
void PaintInstaller(Gdiplus::GpGraphics* graphics, InstallerState& state, float scale);

// The WM_PAINT body, between BeginPaint and EndPaint: the whole client area is painted at
// dpiScale into an off-screen bitmap and copied to the paint DC in one draw.
void PaintWindow(InstallerState& state, HWND window, HDC dc);
