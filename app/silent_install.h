// An install without a person (--silent): the window's defaults and the window's install path,
// nothing shown at any moment, and the end reported only as the process's exit code.
#pragma once

#include <optional>
#include <string>

#include "app/command_line.h"
#include "app/state.h"

struct UnattendedLog;

// The command line's choices over a state that holds the window's defaults: the folder given with
// --install-dir taken as Browse takes a picked one; without it the registered install's folder
// when there is one an install may go on in (an upgrade replaces the client where it is), else
// the default; no desktop shortcut with --no-desktop-shortcut, never a launch afterwards, and
// the state marked as unattended.
void ApplyUnattendedChoices(InstallerState& state, const CommandLineOptions& options,
                            const std::optional<std::u16string>& registeredFolder);

// Applies the choices, runs one install through StartInstall and its worker, returns once the
// worker has ended, with the exit code of that end (app/exit_codes.h). Every step goes to `log`.
int RunSilentInstall(InstallerState& state, const CommandLineOptions& options, UnattendedLog& log);
