// Starting an install from the window: the one place that creates the install worker thread.
#pragma once

#include <thread>

#include "app/state.h"

// Shown when the worker thread cannot be created (no thread resources left). The Installing
// screen is already up at that point, so the install ends on the Error screen with Retry.
inline constexpr char16_t kWorkerNotStartedMessage[] =
    u"Could not start the installation. Please try again.";

// The Failure code of a run without a person that found another install run holding the install
// lock: it ends at once, before the worker starts, and says so only through its exit code. A run
// from the window waits for the lock instead (see app/install_lock_win.h).
inline constexpr char kAnotherInstallRunningCode[] = "another_install_running";

// A window's run that has waited this long for another run's install lock says so on its
// Connecting screen, so that a wait with no end in sight is never a silent one.
inline constexpr unsigned kLongLockWaitMs = 3000;
inline constexpr char16_t kWaitingForOtherInstallText[] =
    u"Waiting for another install of Varnok Client to finish\u2026";

// The Connecting screen's block, with `note` under its track.
InstallProgress ConnectingProgress(std::u16string_view note = {});

// Creates the thread that runs the install worker with its arguments. Tests replace it to hold
// a worker back or to make thread creation fail. The Windows build starts the installer's worker;
// the host build has no network transport and so no worker: without a starter, an install ends
// as if no thread could be created.
using WorkerThreadStarter = std::thread (*)(WorkerArgs args);
extern WorkerThreadStarter g_startWorkerThread;

// Install or Retry: ignored while a worker is busy; otherwise joins the previous worker, clears
// the cancel request, shows "Connecting" at once and starts a new worker.
void StartInstall(InstallerState& state);
