// The per-user local application data folder: FOLDERID_LocalAppData on Windows; on the host
// XDG_DATA_HOME, or ~/.local/share. Nothing when the system names none. The default install
// folder and the client's settings folder both start from it; tests replace the function.
#pragma once

#include <filesystem>
#include <optional>

using LocalAppDataFolderFn = std::optional<std::filesystem::path> (*)();
extern LocalAppDataFolderFn g_localAppDataFolder;
