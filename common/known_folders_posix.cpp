#include "common/known_folders.h"

#include <cstdlib>

namespace {

std::optional<std::filesystem::path> HostLocalAppDataFolder() {
    // A relative XDG_DATA_HOME is invalid and ignored, as the base directory rules ask.
    const char* data = std::getenv("XDG_DATA_HOME");
    if (data != nullptr && data[0] == '/') return std::filesystem::path(data);
    const char* home = std::getenv("HOME");
    if (home != nullptr && home[0] == '/') return std::filesystem::path(home) / ".local" / "share";
    return std::nullopt;
}

}  // namespace

LocalAppDataFolderFn g_localAppDataFolder = &HostLocalAppDataFolder;
