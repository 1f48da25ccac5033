#include "common/own_path.h"

#include <filesystem>
#include <system_error>

#include "common/text.h"

std::u16string OwnExecutablePath() {
    std::error_code ec;
    const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (ec) return {};
    return Utf8ToUtf16(self.string());
}

OwnExecutablePathFn g_ownExecutablePath = &OwnExecutablePath;
