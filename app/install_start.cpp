#include "app/install_start.h"

#include <new>
#include <system_error>
#include <utility>

InstallProgress ConnectingProgress(std::u16string_view note) {
    InstallProgress connecting;
    connecting.stage = InstallStage::Installing;
    connecting.statusText = u"Connecting";
    connecting.indeterminate = true;
    connecting.noteText = note;
    return connecting;
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

    PublishProgress(state, ConnectingProgress(), false);

    if (g_startWorkerThread == nullptr) {
        FailInstall(state, kWorkerNotStartedMessage, Failure{"start_worker", "no_worker"});
        return;
    }
    try {
        state.worker = g_startWorkerThread(std::move(args));
    } catch (const std::system_error&) {
        // Without a worker nobody would ever leave the Installing screen or clear workerBusy.
        FailInstall(state, kWorkerNotStartedMessage, Failure{"start_worker", "thread_not_started"});
    } catch (const std::bad_alloc&) {
        FailInstall(state, kWorkerNotStartedMessage, Failure{"start_worker", "out_of_memory"});
    }
}
