// The system folder picker. Windows-only.
#pragma once

#include <windows.h>

#include <optional>
#include <string>
#include <string_view>

// Shows the modal folder dialog over `owner` with the given title. Nothing when the dialog
// cannot be created, is cancelled or gives no file-system path; otherwise the folder as UTF-8
// (empty when the name cannot be converted, which still counts as a choice).
std::optional<std::string> PickFolder(HWND owner, std::u16string_view title);
