#include "install/uninstaller.h"

#include "common/path.h"
#include "common/text.h"
#include "game/local_folder.h"
#include "install/install_worker.h"

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

// Windows paths compare without regard to letter case or the kind of separator.
std::u16string Comparable(std::u16string_view path) {
    std::u16string text(path);
    for (char16_t& c : text) {
        if (c == u'/') c = u'\\';
        if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c - u'A' + u'a');
    }
    return text;
}

bool IsNamedUninstaller(std::u16string_view path) {
    const std::u16string_view folder = FolderOfFile(path);
    std::u16string_view name = path.substr(folder.size());
    while (!name.empty() && IsSeparator(name.front())) name.remove_prefix(1);
    return Comparable(name) == Comparable(kUninstallerName);
}

}  // namespace

UninstallPlan PlanUninstall(std::u16string_view ownPath, bool silent,
                            const std::optional<std::u16string>& registeredLocation,
                            bool registeredUninstallerExists) {
    UninstallPlan plan;
    const std::u16string ownFolder(FolderOfFile(ownPath));
    if (silent) {
        if (!registeredLocation) {
            plan.action = UninstallAction::Nothing;
            return plan;
        }
        const std::u16string registered = JoinPath(*registeredLocation, kUninstallerName);
        if (Comparable(registered) != Comparable(ownPath)) {
            const bool local = IsAcceptableLocalFolder(Utf16ToUtf8(*registeredLocation), false);
            if (local && registeredUninstallerExists) {
                plan.action = UninstallAction::HandOver;
                plan.uninstaller = registered;
            } else {
                plan.action = UninstallAction::RegisteredFolder;
                if (local) plan.folder = *registeredLocation;
            }
            return plan;
        }
    }
    plan.folder = ownFolder;
    plan.removeFolder =
        !ownFolder.empty() && IsNamedUninstaller(ownPath) && IsRemovableInstallFolder(ownFolder);
    return plan;
}

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
    if (name.size() < 6 || name.find(u"Varnok") == std::u16string_view::npos) return false;
    // cmd expands %NAME% even inside quotes, and !NAME! with delayed expansion on: the command
    // would remove some other folder.
    if (folder.find_first_of(u"%!") != std::u16string_view::npos) return false;
    // The uninstaller runs from this folder, so it exists; a share or a link in its place would
    // have rmdir empty what lies behind it.
    return IsAcceptableLocalFolder(Utf16ToUtf8(folder), false);
}

std::u16string DelayedFolderRemovalCommand(std::u16string_view folder) {
    // Two echo requests to the loopback address are cmd's one-second wait. /D: no AutoRun
    // command from the registry runs first, whatever someone has set there.
    return u"cmd.exe /D /C ping 127.0.0.1 -n 2 >NUL & rmdir /S /Q \"" + std::u16string(folder) +
           u"\"";
}

DelayedRemovalProcess DelayedFolderRemovalProcess(std::u16string_view systemFolder,
                                                  std::u16string_view folder) {
    return {JoinPath(systemFolder, u"cmd.exe"), DelayedFolderRemovalCommand(folder),
            std::u16string(systemFolder)};
}
