#include "settings/settings_platform.h"

#include <cstdio>

namespace {

bool HostReplaceFile(const std::filesystem::path& from, const std::filesystem::path& to) {
    return std::rename(from.c_str(), to.c_str()) == 0;
}

}  // namespace

ReplaceFileFn g_replaceFile = &HostReplaceFile;
