#include "common/known_folders.h"

#include <windows.h>
#include <knownfolders.h>
#include <shlobj.h>

#include "common/handles_win.h"
#include "common/known_folders_win.h"
#include "common/text_win.h"

namespace {

std::optional<std::filesystem::path> SystemLocalAppDataFolder() {
    const std::optional<std::u16string> path = KnownFolderPath(FOLDERID_LocalAppData);
    if (!path) return std::nullopt;
    return std::filesystem::path(*path);
}

}  // namespace

LocalAppDataFolderFn g_localAppDataFolder = &SystemLocalAppDataFolder;

std::optional<std::u16string> KnownFolderPath(REFKNOWNFOLDERID id) {
    UniqueCoTaskString path;
    if (FAILED(SHGetKnownFolderPath(id, 0, nullptr, path.put())) || !path) return std::nullopt;
    return FromWide(path.get());
}
