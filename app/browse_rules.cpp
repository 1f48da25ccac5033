#include "app/browse_rules.h"

#include "common/text.h"
#include "game/local_folder.h"

namespace {

bool IsSeparator(char16_t c) {
    return c == u'\\' || c == u'/';
}

bool IsAsciiLetter(char16_t c) {
    return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z');
}

// Length of the root name: "D:" for a drive, "\\host" for a network path, else 0.
size_t RootNameLength(std::u16string_view path) {
    if (path.size() >= 2 && path[1] == u':' && IsAsciiLetter(path[0])) return 2;
    if (path.size() >= 3 && IsSeparator(path[0]) && IsSeparator(path[1]) && !IsSeparator(path[2])) {
        size_t end = 3;
        while (end < path.size() && !IsSeparator(path[end])) ++end;
        return end;
    }
    return 0;
}

// Where the relative part begins: after the root name and every separator of the root directory.
size_t RelativeStart(std::u16string_view path) {
    size_t pos = RootNameLength(path);
    while (pos < path.size() && IsSeparator(path[pos])) ++pos;
    return pos;
}

}  // namespace

std::u16string_view WindowsPathFilename(std::u16string_view path) {
    const size_t start = RelativeStart(path);
    size_t begin = path.size();
    while (begin > start && !IsSeparator(path[begin - 1])) --begin;
    return path.substr(begin);
}

std::u16string WindowsPathAppend(std::u16string_view path, std::u16string_view name) {
    std::u16string out(path);
    if (!WindowsPathFilename(path).empty()) out.push_back(u'\\');
    out.append(name);
    return out;
}

std::optional<std::u16string> InstallDirForChosenFolder(std::string_view chosenUtf8) {
    if (!IsAcceptableLocalFolder(chosenUtf8, false)) return std::nullopt;
    std::u16string folder = Utf8ToUtf16(chosenUtf8);
    if (WindowsPathFilename(folder) == kInstallFolderName) return folder;
    return WindowsPathAppend(folder, kInstallFolderName);
}
