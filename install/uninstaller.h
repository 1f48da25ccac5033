// The --uninstall mode: removes what an install created. Returns the process exit code.
#pragma once

#include <optional>
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

// Where an uninstall acts, decided before anything is changed.
enum class UninstallAction {
    OwnFolder,         // the folder of the running file (what the window's uninstall always does)
    HandOver,          // the registered install's own Uninstall.exe does it; its code is ours
    RegisteredFolder,  // the registered folder, whose Uninstall.exe is gone
    Nothing,           // nothing is registered: nothing to remove
};

struct UninstallPlan {
    UninstallAction action = UninstallAction::OwnFolder;
    std::u16string folder;       // where the client file goes (OwnFolder, RegisteredFolder)
    std::u16string uninstaller;  // HandOver: the registered Uninstall.exe
    // The delayed removal of the whole folder: only ever for a file named Uninstall.exe (any
    // case) in a removable install folder. A setup file run from its download folder, even one
    // named for the client, never takes its folder and whatever else is in it along.
    bool removeFolder = false;
};

// A person (`silent` false) gets the uninstall of the running file's own folder, as it has always
// been. A deployment tool may run the setup file itself with --uninstall --silent, the natural
// line of a package that holds only the setup: then the registered install is what goes, by its
// own uninstaller when it is there (`registeredUninstallerExists`), and nothing is changed when
// nothing is registered. The registered location is used only when it passes the local folder
// rules; one that does not leaves only the shortcuts and the keys to remove.
UninstallPlan PlanUninstall(std::u16string_view ownPath, bool silent,
                            const std::optional<std::u16string>& registeredLocation,
                            bool registeredUninstallerExists);

struct UnattendedLog;

// Asks first and says when it is done; `silent` (a deployment tool, no person) asks nothing,
// takes the answer as Yes and shows nothing, removes the client file before anything else and
// ends with 19 (changing nothing) when that file cannot go, as while the client runs. Lines go
// to `log`.
int RunUninstaller(bool silent, UnattendedLog& log);
