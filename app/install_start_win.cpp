#include "app/install_start.h"

#include <utility>

#include "app/install_lock_win.h"
#include "install/install_worker.h"

namespace {

// The worker's whole life under the install lock, taken on the worker's own thread, which is the
// one that must let it go. A run from the window waits on its Connecting screen while another
// run holds the lock, so two installs never race (Cancel and closing the window end the wait as
// they would end a slow fetch), and after a few seconds it says what it waits for; a run without
// a person ends at once, for its deployment tool to retry.
void RunInstallWorkerLocked(WorkerArgs args) {
    InstallerState& state = *args.state;
    bool saidWaiting = false;
    const InstallLock lock =
        TakeInstallLock(state.unattended ? nullptr : &state.cancelRequested, kLongLockWaitMs, [&] {
            saidWaiting = true;
            PublishProgress(state, ConnectingProgress(kWaitingForOtherInstallText), false);
        });
    // The wait is over: the Connecting screen no longer speaks of it.
    if (saidWaiting && lock.result == InstallLockResult::Taken)
        PublishProgress(state, ConnectingProgress(), false);
    switch (lock.result) {
        case InstallLockResult::HeldElsewhere:
            FailInstall(state, u"", Failure{"install_lock", kAnotherInstallRunningCode});
            return;
        case InstallLockResult::Cancelled:
            // As a cancel noticed after the manifest fetch: the Ready screen again.
            state.workerBusy.exchange(false);
            PublishProgress(state, InstallProgress{}, true);
            return;
        case InstallLockResult::Taken:
        case InstallLockResult::Unavailable:
            RunInstallWorker(std::move(args));
            return;
    }
}

std::thread StartInstallWorkerThread(WorkerArgs args) {
    return std::thread(RunInstallWorkerLocked, std::move(args));
}

}  // namespace

WorkerThreadStarter g_startWorkerThread = &StartInstallWorkerThread;
