#include "app/commands_win.h"

#include <shellapi.h>

#include "app/browse_rules.h"
#include "app/folder_picker_win.h"
#include "app/install_start.h"
#include "game/windows_path.h"
#include "common/text_win.h"

PickFolderFn g_pickFolder = &PickFolder;

namespace {

HWND WindowOf(const InstallerState& state) {
    return reinterpret_cast<HWND>(state.window);
}

}  // namespace

void Repaint(HWND window) {
    InvalidateRect(window, nullptr, FALSE);
}

void ChooseInstallFolder(InstallerState& state) {
    const std::optional<std::string> chosen = g_pickFolder(WindowOf(state), kPickFolderTitle);
    if (!chosen) return;
    // A refused folder changes nothing and says nothing: the picker only offers real folders,
    // so a refusal means a network or otherwise unusable place the user can see for themselves.
    std::optional<std::u16string> installDir = InstallDirForChosenFolder(*chosen);
    if (!installDir) return;
    state.installDir = std::move(*installDir);
    Repaint(WindowOf(state));
}

void LaunchClient(InstallerState& state) {
    const std::u16string path = SnapshotClientExePath(state);
    if (path.empty()) return;
    const std::u16string folder = WindowsParentPath(path);
    ShellExecuteW(nullptr, L"open", Wz(path), nullptr, Wz(folder), SW_SHOWNORMAL);
}

void HandleCommand(InstallerState& state, HitTarget target) {
    HWND window = WindowOf(state);
    const InstallStage stage = GetStage(state);
    switch (target) {
        case HitTarget::Minimize:
            ShowWindow(window, SW_MINIMIZE);
            break;
        case HitTarget::Close:
            if (state.workerBusy.load()) state.cancelRequested.exchange(true);
            DestroyWindow(window);
            break;
        case HitTarget::Browse:
            ChooseInstallFolder(state);
            break;
        case HitTarget::DesktopShortcut:
            state.createDesktopShortcut = !state.createDesktopShortcut;
            Repaint(window);
            break;
        case HitTarget::LaunchAfterInstall:
            state.launchAfterInstall = !state.launchAfterInstall;
            Repaint(window);
            break;
        case HitTarget::Primary:
            if (stage == InstallStage::Ready || stage == InstallStage::Error) {
                StartInstall(state);
            } else if (stage == InstallStage::Done) {
                LaunchClient(state);
                DestroyWindow(window);
            }
            break;
        case HitTarget::Secondary:
            if (stage == InstallStage::Installing) {
                // The worker reports the outcome; the screen stays until it does.
                state.cancelRequested.exchange(true);
            } else if (stage == InstallStage::Ready || stage == InstallStage::Done ||
                       stage == InstallStage::Error) {
                DestroyWindow(window);
            }
            break;
        case HitTarget::None:
        case HitTarget::Caption:
            break;
    }
}
