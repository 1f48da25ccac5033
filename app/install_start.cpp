#include "app/install_start.h"

#include <chrono>
#include <new>
#include <system_error>
#include <utility>

namespace {

std::thread StartInstallWorkerThread(WorkerArgs args) {
    return std::thread(RunPlaceholderInstallWorker, std::move(args));
}

}  // namespace

WorkerThreadStarter g_startWorkerThread = &StartInstallWorkerThread;

void RunPlaceholderInstallWorker(WorkerArgs args) {
    InstallerState& state = *args.state;
    // Stay on the Installing screen for a moment, as a connection attempt would, so that the
    // screen, its animation and Cancel can be seen and used before the install fails.
    const auto until = std::chrono::steady_clock::now() + kPlaceholderInstallDuration;
    while (std::chrono::steady_clock::now() < until) {
        if (state.cancelRequested.load()) {
            state.workerBusy.exchange(false);
            PublishProgress(state, InstallProgress{}, true);
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    FailInstall(state, kPlaceholderInstallMessage);
}

void StartInstall(InstallerState& state) {
    if (state.workerBusy.exchange(true)) return;
    // The previous worker has already published its outcome; at most its last steps remain.
    if (state.worker.joinable()) state.worker.join();
    state.cancelRequested.exchange(false);

    WorkerArgs args;
    args.state = &state;
    args.installDir = state.installDir;
    args.baseUrl = state.baseUrl;
    args.createDesktopShortcut = state.createDesktopShortcut;

    InstallProgress connecting;
    connecting.stage = InstallStage::Installing;
    connecting.statusText = u"Connecting";
    connecting.indeterminate = true;
    PublishProgress(state, connecting, false);

    try {
        state.worker = g_startWorkerThread(std::move(args));
    } catch (const std::system_error&) {
        // Without a worker nobody would ever leave the Installing screen or clear workerBusy.
        FailInstall(state, kWorkerNotStartedMessage);
    } catch (const std::bad_alloc&) {
        FailInstall(state, kWorkerNotStartedMessage);
    }
}
