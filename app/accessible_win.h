// The window as screen readers see it: an MSAA object for the client area whose children are the
// current screen's texts and controls (app/accessible_model.h), and the WinEvents that announce
// changes. Windows-only; UI thread only.
#pragma once

#include <windows.h>

#include "app/state.h"

// WM_GETOBJECT: our object for OBJID_CLIENT, the system's answer for everything else.
LRESULT AnswerGetObject(HWND window, WPARAM wParam, LPARAM lParam);

// Moves the focus to the primary control of a screen that has just appeared, then raises the
// WinEvents for what changed since the last call. The first call only records the view.
void AnnounceAccessibleChanges(InstallerState& state, HWND window);
