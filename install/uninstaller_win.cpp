#include "install/uninstaller.h"

#include <windows.h>

#include "app/exit_codes.h"
#include "app/unattended_log.h"
#include "common/files.h"
#include "common/handles_win.h"
#include "common/known_folders_win.h"
#include "common/own_path.h"
#include "common/path.h"
#include "common/text.h"
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

// The registered install's own uninstaller, started as its QuietUninstallString starts it, from
// the system folder so that its folder is not held open; its exit code is this run's.
int HandOver(const std::u16string& uninstaller, UnattendedLog& log) {
    std::u16string commandLine = u"\"" + uninstaller + u"\" --uninstall --silent";
    const std::u16string system = SystemFolder();
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (system.empty() ||
        !CreateProcessW(Wz(uninstaller), reinterpret_cast<wchar_t*>(commandLine.data()), nullptr,
                        nullptr, FALSE, 0, nullptr, Wz(system), &startup, &process)) {
        const DWORD error = GetLastError();
        WriteLogLine(log, u"the registered uninstaller did not start: Windows error " +
                              Utf8ToUtf16(std::to_string(error)));
        return kExitNotStarted;
    }
    UniqueHandleKernel thread(process.hThread);
    UniqueHandleKernel child(process.hProcess);
    DWORD code = static_cast<DWORD>(kExitNotStarted);
    if (WaitForSingleObject(child.get(), INFINITE) != WAIT_OBJECT_0 ||
        !GetExitCodeProcess(child.get(), &code))
        code = static_cast<DWORD>(kExitNotStarted);
    return static_cast<int>(code);
}

bool FileExists(const std::u16string& path) {
    return GetFileAttributesW(Wz(path)) != INVALID_FILE_ATTRIBUTES;
}

}  // namespace

int RunUninstaller(bool silent, UnattendedLog& log) {
    if (!silent &&
        MessageBoxW(nullptr, Wz(std::u16string(kUninstallQuestion)),
                    Wz(std::u16string(kUninstallCaption)), MB_YESNO | MB_ICONQUESTION) != IDYES)
        return 0;

    const std::optional<std::u16string> registered = RegisteredInstallLocation();
    const UninstallPlan plan =
        PlanUninstall(g_ownExecutablePath(), silent, registered,
                      registered && FileExists(JoinPath(*registered, kUninstallerName)));
    switch (plan.action) {
        case UninstallAction::Nothing:
            WriteLogLine(log, u"nothing is registered: nothing was changed");
            return 0;
        case UninstallAction::HandOver:
            WriteLogLine(log, u"handed over to " + plan.uninstaller);
            return HandOver(plan.uninstaller, log);
        default:
            break;
    }

    const std::u16string client =
        plan.folder.empty() ? std::u16string() : JoinPath(plan.folder, kClientExeName);
    if (silent && !client.empty()) {
        // First, so that a client that is running (its file cannot go) leaves everything as it
        // was, and the tool that asked can retry once it has been closed.
        if (!RemoveFile(client) && FileExists(client)) {
            WriteLogLine(log, u"the client is running: " + client);
            return kExitClientRunning;
        }
    }
    RemoveShortcuts();
    RemoveRegistration();
    if (!client.empty()) {
        RemoveFile(client);
        RemoveFile(JoinPath(plan.folder, u"VarnokClient.exe.old"));
    }
    WriteLogLine(
        log, u"removed: " + (plan.folder.empty() ? u"the shortcuts and the keys" : plan.folder));

    if (!silent)
        MessageBoxW(nullptr, Wz(std::u16string(kUninstalledMessage)),
                    Wz(std::u16string(kUninstallCaption)), MB_OK | MB_ICONINFORMATION);

    if (plan.removeFolder) StartDelayedFolderRemoval(plan.folder);
    return 0;
}
