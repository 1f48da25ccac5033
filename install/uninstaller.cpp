#include "install/uninstaller.h"

namespace {

bool IsSeparator(char16_t c) {
    return c == u'\\' || c == u'/';
}

// Length of the drive or root part that a last component never reaches into.
size_t RootLength(std::u16string_view path) {
    size_t root = (path.size() >= 2 && path[1] == u':') ? 2 : 0;
    while (root < path.size() && IsSeparator(path[root])) ++root;
    return root;
}

}  // namespace

std::u16string_view FolderOfFile(std::u16string_view path) {
    const size_t root = RootLength(path);
    size_t end = path.size();
    while (end > root && !IsSeparator(path[end - 1])) --end;  // drop the file name
    while (end > root && IsSeparator(path[end - 1])) --end;   // and the separators before it
    return path.substr(0, end);
}

bool IsRemovableInstallFolder(std::u16string_view folder) {
    const size_t root = RootLength(folder);
    size_t start = folder.size();
    while (start > root && !IsSeparator(folder[start - 1])) --start;
    const std::u16string_view name = folder.substr(start);
    return name.size() >= 6 && name.find(u"Varnok") != std::u16string_view::npos;
}

std::u16string DelayedFolderRemovalCommand(std::u16string_view folder) {
    // Two echo requests to the loopback address are cmd's one-second wait.
    return u"cmd.exe /C ping 127.0.0.1 -n 2 >NUL & rmdir /S /Q \"" + std::u16string(folder) + u"\"";
}
