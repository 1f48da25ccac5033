#include "common/known_folders.h"

#include <cstdlib>

#include "common/text.h"

namespace {

std::optional<std::u16string> HostLocalAppDataFolder() {
    // A relative XDG_DATA_HOME is invalid and ignored, as the base directory rules ask.
    const char* data = std::getenv("XDG_DATA_HOME");
    if (data != nullptr && data[0] == '/') return Utf8ToUtf16(data);
    const char* home = std::getenv("HOME");
    if (home != nullptr && home[0] == '/') return Utf8ToUtf16(std::string(home) + "/.local/share");
    return std::nullopt;
}

}  // namespace

LocalAppDataFolderFn g_localAppDataFolder = &HostLocalAppDataFolder;

std::optional<std::u16string> TemporaryFolder() {
    const char* temp = std::getenv("TMPDIR");
    return Utf8ToUtf16(temp != nullptr && temp[0] == '/' ? temp : "/tmp");
}
