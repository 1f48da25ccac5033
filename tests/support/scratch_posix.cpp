#include <sys/stat.h>

#include <cstdio>
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

std::string FolderAccess(const std::filesystem::path& folder) {
    struct stat st {};
    if (stat(folder.c_str(), &st) != 0) return "unreadable";
    char mode[8];
    snprintf(mode, sizeof mode, "%o", static_cast<unsigned>(st.st_mode & 07777));
    return mode;
}
