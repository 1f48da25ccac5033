// The current user's shell folders by their known-folder id. Windows-only header.
#pragma once

#include <windows.h>
#include <shlobj.h>

#include <optional>
#include <string>

// The folder's path, or nothing when the system names none.
std::optional<std::u16string> KnownFolderPath(REFKNOWNFOLDERID id);
