// The --uninstall mode: removes what an install created. Returns the process exit code.
#pragma once

#include <string>
#include <string_view>

inline constexpr char16_t kUninstallQuestion[] =
    u"Uninstall Varnok Client from this computer?\n"
    u"(Your installed CS:GO game folder will not be deleted.)";
inline constexpr char16_t kUninstallCaption[] = u"Varnok Client";
inline constexpr char16_t kUninstalledMessage[] = u"Varnok Client has been uninstalled.";

// The folder the uninstaller runs from, and whether it may be removed whole: its name marks it as
// a client install folder (the last component contains "Varnok", case-sensitive), it passes the
// local folder rules (never a share or a link), and its path holds nothing cmd would expand
// ('%' or '!'), since the removal command is cmd's.
std::u16string_view FolderOfFile(std::u16string_view path);
bool IsRemovableInstallFolder(std::u16string_view folder);

// The command that removes the install folder about a second after the uninstaller has ended.
std::u16string DelayedFolderRemovalCommand(std::u16string_view folder);

// How that command is started: cmd.exe named by its full path in the system folder, and the
// system folder as its working folder, so neither cmd nor the ping it runs is looked up in a
// folder other users may write to (the install folder or its parent).
struct DelayedRemovalProcess {
    std::u16string applicationName;
    std::u16string commandLine;
    std::u16string workingFolder;
};
DelayedRemovalProcess DelayedFolderRemovalProcess(std::u16string_view systemFolder,
                                                  std::u16string_view folder);

// Asks first and says when it is done; `silent` (a deployment tool, no person) asks nothing,
// takes the answer as Yes and shows nothing. Everything else is the same either way.
int RunUninstaller(bool silent);
