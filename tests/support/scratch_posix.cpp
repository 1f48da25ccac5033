#include <system_error>

#include "tests/support/scratch.h"

// std::filesystem::remove_all does not follow symbolic links on POSIX systems.
void RemoveTreeNoFollow(const std::filesystem::path& root) {
    std::error_code ec;
    std::filesystem::remove_all(root, ec);
}

bool RunningUnderWine() {
    return false;
}
