// The lock that every install run holds for its worker's lifetime, so that two installs of the
// client (two windows, a window and a deployment tool, two deployment runs) never work on the
// same folder, partial download and registry entries at once. Windows-only.
#pragma once

#include <atomic>
#include <functional>

#include "common/handles_win.h"

// "Local\" is the namespace of the Windows session the process runs in (each signed-in user's
// desktop, console or Remote Desktop, is a session of its own): an install is the user's own
// (HKEY_CURRENT_USER, the user's folders), so other users signed in on the same machine install
// side by side, while every install of the session, window or silent, meets this name.
// A "Global\" name would make one user's install wait for another's, and would let another
// user create it first and hold every install back.
inline constexpr wchar_t kInstallMutexName[] = L"Local\\VarnokClientSetup.Install";

enum class InstallLockResult {
    Taken,          // held by the calling thread until the owner ends
    HeldElsewhere,  // another run holds it (only when not waiting)
    Cancelled,      // the wait ended because the run was cancelled
    Unavailable,    // no lock can be had at all: the run goes on without one
};

struct InstallLock {
    InstallLockResult result = InstallLockResult::Unavailable;
    UniqueHeldMutex mutex;
};

// Takes the lock on the calling thread, which must be the one that later lets it go. Without
// `cancel`, a lock another run holds gives HeldElsewhere at once; with it, the call waits until
// the other run ends or `cancel` is raised. A run killed while holding it leaves it abandoned,
// which counts as free. When the mutex cannot be made or waited for (no resources, or another
// object in its place made by someone else) the result is Unavailable, and the run installs as
// it would have before there was a lock, rather than never. A waiting call runs `longWait` once,
// when it has waited `longWaitMs`.
InstallLock TakeInstallLock(const std::atomic<bool>* cancel, unsigned longWaitMs = 0,
                            const std::function<void()>& longWait = {});
