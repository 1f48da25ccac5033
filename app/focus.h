// Keyboard use of the window: which controls take the focus on each screen, in reading order,
// and what the keys do there. Portable; the window procedure turns the answers into
// HandleCommand calls.
#pragma once

#include <span>

#include "app/state.h"

enum class FocusKey { Tab, ShiftTab, Space, Enter, Escape };

// The controls of a screen in reading order; empty for a stage outside the four.
std::span<const HitTarget> FocusOrder(InstallStage stage);

// Where the focus starts on a screen: Install, Cancel, Launch or Retry.
HitTarget PrimaryControl(InstallStage stage);

// The focused control of the screen now showing: the stored focus while it belongs to that
// screen, otherwise the screen's primary control.
HitTarget FocusedControl(const InstallerState& state, InstallStage stage);

// The control after `focused` in `order`, or before it when `backwards`, wrapping around at
// either end; the first control for one that is not in the order.
HitTarget StepFocus(std::span<const HitTarget> order, HitTarget focused, bool backwards);

// What a key does: where the focus goes and which command runs (None for no command).
struct KeyOutcome {
    HitTarget focus = HitTarget::None;
    HitTarget command = HitTarget::None;
};
KeyOutcome OutcomeOfKey(InstallStage stage, HitTarget focused, FocusKey key);

// A control the mouse pressed takes the focus when it is one the keyboard can reach.
bool IsFocusable(InstallStage stage, HitTarget target);
