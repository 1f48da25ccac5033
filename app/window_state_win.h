// What the window procedure and the window's accessible object both need of the window: its
// title, the state it carries and the message a reader's action is posted as. Windows-only; UI thread only.
#pragma once

#include <windows.h>

#include "app/state.h"

// The window's title, which readers also give as its name.
inline constexpr wchar_t kWindowTitle[] = L"Varnok Client";

// The state stored at WM_NCCREATE, or null before it.
inline InstallerState* StateOf(HWND window) {
    return reinterpret_cast<InstallerState*>(GetWindowLongPtrW(window, GWLP_USERDATA));
}

// Posted by a reader's default action so the command runs after the reader's call has returned
// (a folder picker or a closing window must not run inside it). wParam is the HitTarget, lParam
// the stage whose control was meant: Cancel and Close share a place, so an action that arrives
// after the screen changed is dropped rather than run on whatever is there now.
inline constexpr UINT WM_ACCESSIBLE_ACTION = WM_APP + 3;
