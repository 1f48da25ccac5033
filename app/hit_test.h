// What lies under a point of the window, in logical pixels of the 440 by 336 layout.
#pragma once

#include "app/state.h"

// Edges belong to the rectangle: x in [left, left + width], y in [top, top + height].
bool PointInRect(const LayoutRect& rect, float x, float y);

// The first control that contains the point on the current screen; otherwise Caption in the
// header band (y <= 48) and None below it. Reads the stage under the state's mutex.
HitTarget HitTest(InstallerState& state, float x, float y);

// Where a control of a screen lies; false when the screen has no such control.
bool ControlRect(const InstallerState& state, InstallStage stage, HitTarget target,
                 LayoutRect* rect);
