// The user's commands behind the window's controls. Windows-only; UI thread only.
#pragma once

#include <windows.h>

#include <optional>
#include <string>
#include <string_view>

#include "app/state.h"

inline constexpr char16_t kPickFolderTitle[] = u"Choose Varnok Client install folder";

// The folder picker used by Browse. Tests replace the modal dialog; the default is PickFolder.
using PickFolderFn = std::optional<std::string> (*)(HWND owner, std::u16string_view title);
extern PickFolderFn g_pickFolder;

// Redraws the whole client area from the back buffer, without erasing.
void Repaint(HWND window);

// Carries out a completed click on `target` for the current stage.
void HandleCommand(InstallerState& state, HitTarget target);

// Browse: asks for a folder and stores it as the install folder when the folder rules accept it.
void ChooseInstallFolder(InstallerState& state);

// Starts the installed client from its own folder; does nothing without a client path.
void LaunchClient(InstallerState& state);
