#include <unistd.h>

#include "tests/game/real_folders.h"

std::string FolderText(const std::filesystem::path& path) {
    std::string text = "Z:" + path.string();
    for (char& c : text)
        if (c == '/') c = '\\';
    return text;
}

bool MakeDirectoryLink(const std::filesystem::path& link, const std::string& targetName,
                       std::string& reason) {
    if (symlink(targetName.c_str(), link.c_str()) == 0) return true;
    reason = "symlink() failed";
    return false;
}
