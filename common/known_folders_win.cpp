#include "common/known_folders.h"

#include <windows.h>
#include <knownfolders.h>
#include <shlobj.h>

#include "common/handles_win.h"

namespace {

std::optional<std::filesystem::path> SystemLocalAppDataFolder() {
    UniqueCoTaskString path;
    if (FAILED(SHGetKnownFolderPath(FOLDERID_LocalAppData, 0, nullptr, path.put())) || !path)
        return std::nullopt;
    return std::filesystem::path(path.get());
}

}  // namespace

LocalAppDataFolderFn g_localAppDataFolder = &SystemLocalAppDataFolder;
