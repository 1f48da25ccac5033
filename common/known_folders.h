// The per-user local application data folder: FOLDERID_LocalAppData on Windows; on the host
// XDG_DATA_HOME, or ~/.local/share. Nothing when the system names none. The default install
// folder and the client's settings folder both start from it; tests replace the function.
#pragma once

#include <optional>
#include <string>

using LocalAppDataFolderFn = std::optional<std::u16string> (*)();
extern LocalAppDataFolderFn g_localAppDataFolder;

// The user's temporary folder (GetTempPathW: TMP, TEMP, the profile; $TMPDIR or /tmp on the
// host), or nothing when the system names none.
std::optional<std::u16string> TemporaryFolder();
