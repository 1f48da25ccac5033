#include "app/state.h"

#include "app/unattended_log.h"
#include "common/build_info.h"

InstallerState::InstallerState() : baseUrl(BuiltInWebBaseUrl()) {}

InstallStage GetStage(InstallerState& state) {
    std::lock_guard lock(state.mutex);
    return state.progress.stage;
}

InstallProgress SnapshotProgress(InstallerState& state) {
    std::lock_guard lock(state.mutex);
    return state.progress;
}

std::u16string SnapshotClientExePath(InstallerState& state) {
    std::lock_guard lock(state.mutex);
    return state.progress.clientExePath;
}

namespace {

void Notify(InstallerState& state, bool stageChanged) {
    WindowHandle window = state.window;
    if (window != nullptr && g_windowAlive(window))
        g_postWindowMessage(window, stageChanged ? WM_INSTALL_STAGE : WM_INSTALL_PROGRESS);
}

}  // namespace

void PublishProgress(InstallerState& state, const InstallProgress& block, bool stageChanged) {
    {
        std::lock_guard lock(state.mutex);
        state.progress = block;
    }
    Notify(state, stageChanged);
    if (state.log != nullptr) LogProgress(*state.log, block);
}

void FailInstall(InstallerState& state, std::u16string_view message, const Failure& failure) {
    InstallProgress block;
    block.stage = InstallStage::Error;
    block.errorText = message;
    block.failure = failure;
    state.workerBusy.exchange(false);
    {
        std::lock_guard lock(state.mutex);
        state.progress = block;
    }
    Notify(state, true);
    if (state.log != nullptr) LogProgress(*state.log, block);
}
