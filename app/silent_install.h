// An install without a person (--silent): the window's defaults and the window's install path,
// nothing shown at any moment, and the end reported only as the process's exit code.
#pragma once

#include "app/command_line.h"
#include "app/state.h"

// The command line's choices over a state that holds the window's defaults: the folder given with
// --install-dir taken as Browse takes a picked one, no desktop shortcut with
// --no-desktop-shortcut, never a launch afterwards, and the state marked as unattended.
void ApplyUnattendedChoices(InstallerState& state, const CommandLineOptions& options);

// Applies the choices, runs one install through StartInstall and its worker, returns once the
// worker has ended, with the exit code of that end (app/exit_codes.h).
int RunSilentInstall(InstallerState& state, const CommandLineOptions& options);
