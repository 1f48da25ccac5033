// Starting an install from the window: the one place that creates the install worker thread.
#pragma once

#include <chrono>
#include <thread>

#include "app/state.h"

// Shown when the worker thread cannot be created (no thread resources left). The Installing
// screen is already up at that point, so the install ends on the Error screen with Retry.
inline constexpr char16_t kWorkerNotStartedMessage[] =
    u"Could not start the installation. Please try again.";

// Shown by the stand-in worker that runs until the real install pipeline is built in.
inline constexpr char16_t kPlaceholderInstallMessage[] =
    u"Installation is not available in this build.";

// The stand-in install worker: keeps the Installing screen for kPlaceholderInstallDuration, ends
// on the Ready screen when Cancel is noticed meanwhile, and otherwise ends every install on the
// Error screen with the fixed message.
inline constexpr std::chrono::milliseconds kPlaceholderInstallDuration{1500};
void RunPlaceholderInstallWorker(WorkerArgs args);

// Creates the thread that runs the install worker with its arguments. Tests replace it to hold
// a worker back or to make thread creation fail; the default runs the installer's worker.
using WorkerThreadStarter = std::thread (*)(WorkerArgs args);
extern WorkerThreadStarter g_startWorkerThread;

// Install or Retry: ignored while a worker is busy; otherwise joins the previous worker, clears
// the cancel request, shows "Connecting" at once and starts a new worker.
void StartInstall(InstallerState& state);
