// What a screen reader is told about the window: the current screen's texts and controls in
// reading order with their names, roles, states and default actions, and which changes between
// two such views are announced. Portable; the MSAA layer (app/accessible_win.cpp) only
// translates these records.
#pragma once

#include <vector>

#include "app/state.h"

// The children of the window's accessible object for a progress snapshot of the state.
std::vector<AccessibleElement> AccessibleElements(const InstallerState& state,
                                                  const InstallProgress& progress);

// The child with a 1-based id, or null.
const AccessibleElement* FindAccessibleChild(const std::vector<AccessibleElement>& elements,
                                             long childId);

enum class AccessibleEventKind { Reorder, Focus, StateChange, NameChange, ValueChange };
struct AccessibleEvent {
    AccessibleEventKind kind;
    int32_t childId;  // 0 for the window's object itself
    bool operator==(const AccessibleEvent&) const = default;
};

// The events that take a reader from `before` to `after`: a different screen is one reorder of
// the whole object followed by the focus; on the same screen, each changed name, value and
// state, then the focus when it moved.
std::vector<AccessibleEvent> AccessibleChanges(const std::vector<AccessibleElement>& before,
                                               const std::vector<AccessibleElement>& after);
