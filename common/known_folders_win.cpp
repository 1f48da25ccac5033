#include "common/known_folders.h"

#include <windows.h>
#include <knownfolders.h>
#include <shlobj.h>

#include "common/handles_win.h"
#include "common/known_folders_win.h"
#include "common/text_win.h"

namespace {

std::optional<std::u16string> SystemLocalAppDataFolder() {
    return KnownFolderPath(FOLDERID_LocalAppData);
}

}  // namespace

LocalAppDataFolderFn g_localAppDataFolder = &SystemLocalAppDataFolder;

std::optional<std::u16string> KnownFolderPath(REFKNOWNFOLDERID id) {
    UniqueCoTaskString path;
    if (FAILED(SHGetKnownFolderPath(id, 0, nullptr, path.put())) || !path) return std::nullopt;
    return FromWide(path.get());
}

std::optional<std::u16string> TemporaryFolder() {
    wchar_t buffer[MAX_PATH + 2];
    const DWORD length = GetTempPathW(MAX_PATH + 2, buffer);
    if (length == 0 || length > MAX_PATH + 1) return std::nullopt;
    return FromWide(std::wstring_view(buffer, length));
}
