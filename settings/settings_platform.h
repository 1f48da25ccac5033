// The two system services the settings file needs, each a replaceable function with the system's
// answer as its default.
#pragma once

#include <filesystem>
#include <optional>

// The per-user local application data folder: FOLDERID_LocalAppData on Windows; on the host
// XDG_DATA_HOME, or ~/.local/share. Empty when the system names none.
using LocalAppDataFolderFn = std::optional<std::filesystem::path> (*)();
extern LocalAppDataFolderFn g_localAppDataFolder;

// Puts `from` in the place of `to` in one step, replacing an existing `to`; false on failure, with
// `from` left where it was.
using ReplaceFileFn = bool (*)(const std::filesystem::path& from, const std::filesystem::path& to);
extern ReplaceFileFn g_replaceFile;
