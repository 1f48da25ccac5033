#include "settings/settings_platform.h"

#include <windows.h>

namespace {

// Flags exactly MOVEFILE_REPLACE_EXISTING: the rename is atomic on one volume, and the settings
// file is small enough that write-through buys nothing.
bool SystemReplaceFile(const std::filesystem::path& from, const std::filesystem::path& to) {
    return MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING) != FALSE;
}

}  // namespace

ReplaceFileFn g_replaceFile = &SystemReplaceFile;
