// The --uninstall mode: removes what an install created. Returns the process exit code.
#pragma once

#include <string>
#include <string_view>

inline constexpr char16_t kUninstallQuestion[] =
    u"Uninstall Varnok Client from this computer?\n"
    u"(Your installed CS:GO game folder will not be deleted.)";
inline constexpr char16_t kUninstallCaption[] = u"Varnok Client";
inline constexpr char16_t kUninstalledMessage[] = u"Varnok Client has been uninstalled.";

// The folder the uninstaller runs from, and whether its name marks it as a client install folder
// that may be removed whole: the last component contains "Varnok" (case-sensitive).
std::u16string_view FolderOfFile(std::u16string_view path);
bool IsRemovableInstallFolder(std::u16string_view folder);

// The command that removes the install folder about a second after the uninstaller has ended.
std::u16string DelayedFolderRemovalCommand(std::u16string_view folder);

int RunUninstaller();
