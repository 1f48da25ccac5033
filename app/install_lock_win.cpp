#include "app/install_lock_win.h"

namespace {

// How often a waiting run looks at its cancel request: Cancel and closing the window answer
// within this time.
constexpr DWORD kCancelPollMs = 100;

}  // namespace

InstallLock TakeInstallLock(const std::atomic<bool>* cancel, unsigned longWaitMs,
                            const std::function<void()>& longWait) {
    InstallLock lock;
    UniqueHandleKernel mutex(CreateMutexW(nullptr, FALSE, kInstallMutexName));
    if (!mutex) return lock;
    unsigned waitedMs = 0;
    for (;;) {
        const DWORD wait = WaitForSingleObject(mutex.get(), cancel ? kCancelPollMs : 0);
        if (wait == WAIT_OBJECT_0 || wait == WAIT_ABANDONED) {
            lock.result = InstallLockResult::Taken;
            lock.mutex = UniqueHeldMutex(mutex.release());
            return lock;
        }
        if (wait != WAIT_TIMEOUT) return lock;
        if (!cancel) {
            lock.result = InstallLockResult::HeldElsewhere;
            return lock;
        }
        if (cancel->load()) {
            lock.result = InstallLockResult::Cancelled;
            return lock;
        }
        const bool wasShort = waitedMs < longWaitMs;
        waitedMs += kCancelPollMs;
        if (wasShort && waitedMs >= longWaitMs && longWait) longWait();
    }
}
