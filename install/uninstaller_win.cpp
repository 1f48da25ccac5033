#include "install/uninstaller.h"

#include <windows.h>

#include "common/files.h"
#include "common/handles_win.h"
#include "common/known_folders_win.h"
#include "common/own_path.h"
#include "common/path.h"
#include "common/text_win.h"
#include "install/install_worker.h"
#include "install/registration.h"

namespace {

void RemoveShortcuts() {
    if (const auto desktop = KnownFolderPath(FOLDERID_Desktop))
        RemoveFile(JoinPath(*desktop, kShortcutFileName));
    // Our own walk: a link someone put into the folder goes, what it leads to stays.
    if (const auto programs = KnownFolderPath(FOLDERID_Programs))
        RemoveFolderTree(JoinPath(*programs, kStartMenuFolderName));
}

void RemoveRegistration() {
    RegDeleteTreeW(HKEY_CURRENT_USER, Wz(std::u16string(kUninstallEntryKey)));
    RegDeleteTreeW(HKEY_CURRENT_USER, Wz(std::u16string(kUrlProtocolKey)));
}

std::u16string SystemFolder() {
    wchar_t buffer[MAX_PATH];
    const UINT length = GetSystemDirectoryW(buffer, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return {};
    return FromWide(std::wstring_view(buffer, length));
}

// The running uninstaller cannot delete its own file, so a hidden cmd.exe removes the folder once
// this process has ended. It starts in the system folder: a process whose current folder is
// inside the tree would keep the folder itself from being removed.
void StartDelayedFolderRemoval(const std::u16string& folder) {
    const std::u16string system = SystemFolder();
    if (system.empty()) return;  // no cmd.exe we could trust to start
    DelayedRemovalProcess removal = DelayedFolderRemovalProcess(system, folder);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_HIDE;
    PROCESS_INFORMATION process{};
    if (CreateProcessW(Wz(removal.applicationName),
                       reinterpret_cast<wchar_t*>(removal.commandLine.data()), nullptr, nullptr,
                       FALSE, CREATE_NO_WINDOW, nullptr, Wz(removal.workingFolder), &startup,
                       &process)) {
        UniqueHandleKernel thread(process.hThread);
        UniqueHandleKernel child(process.hProcess);
    }
}

}  // namespace

int RunUninstaller(bool silent) {
    if (!silent &&
        MessageBoxW(nullptr, Wz(std::u16string(kUninstallQuestion)),
                    Wz(std::u16string(kUninstallCaption)), MB_YESNO | MB_ICONQUESTION) != IDYES)
        return 0;

    RemoveShortcuts();
    RemoveRegistration();
    const std::u16string folder(FolderOfFile(g_ownExecutablePath()));
    if (!folder.empty()) {
        RemoveFile(JoinPath(folder, kClientExeName));
        RemoveFile(JoinPath(folder, u"VarnokClient.exe.old"));
    }

    if (!silent)
        MessageBoxW(nullptr, Wz(std::u16string(kUninstalledMessage)),
                    Wz(std::u16string(kUninstallCaption)), MB_OK | MB_ICONINFORMATION);

    if (!folder.empty() && IsRemovableInstallFolder(folder)) StartDelayedFolderRemoval(folder);
    return 0;
}
