// The installer window: class, creation, message loop and window procedure. Windows-only.
#pragma once

#include <windows.h>

#include "app/window_state_win.h"

inline constexpr wchar_t kWindowClassName[] = L"VarnokClientMinimalInstallerWnd";
inline constexpr UINT_PTR kAnimationTimerId = 101;
inline constexpr UINT kAnimationTimerMs = 30;

LRESULT CALLBACK InstallerWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// Registers the class and creates the hidden, centred window sized for the screen's DPI, with
// its timer running; stores it in the state. Null when the window cannot be created.
HWND CreateInstallerWindow(InstallerState& state);

// Creates the centred window, shows it, runs the message loop until the window is destroyed.
// Returns 1 when the window cannot be created, otherwise 0.
int RunWindowMode(InstallerState& state);
