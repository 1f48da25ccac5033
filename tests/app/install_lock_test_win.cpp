// The install lock between runs: another run holding it (a thread of this test, which owns the
// mutex as another process would) makes a run without a person end with 1618 before any worker
// step, and makes a window run wait on its Connecting screen until the lock is free or Cancel.
#include <gtest/gtest.h>

#include <future>
#include <thread>

#include "app/command_line.h"
#include "app/exit_codes.h"
#include "app/install_lock_win.h"
#include "app/install_start.h"
#include "app/silent_install.h"

namespace {

class OtherRun {
public:
    OtherRun() {
        std::promise<InstallLockResult> taken;
        thread_ = std::thread([this, &taken] {
            const InstallLock lock = TakeInstallLock(nullptr);
            taken.set_value(lock.result);
            released_.wait();
        });
        result_ = taken.get_future().get();
    }
    ~OtherRun() { Release(); }
    InstallLockResult result() const { return result_; }
    void Release() {
        if (!thread_.joinable()) return;
        release_.set_value();
        thread_.join();
    }

private:
    std::promise<void> release_;
    std::shared_future<void> released_ = release_.get_future().share();
    InstallLockResult result_{};
    std::thread thread_;
};

TEST(InstallLock, HeldByAnotherRunASilentInstallEndsWith1618AndTakesItOnceFree) {
    OtherRun other;
    ASSERT_EQ(other.result(), InstallLockResult::Taken);
    EXPECT_EQ(TakeInstallLock(nullptr).result, InstallLockResult::HeldElsewhere);
    InstallerState state;
    state.installDir = u"\\\\server\\share";  // a worker that ran would end on 10, not 1618
    EXPECT_EQ(RunSilentInstall(state, ParseCommandLine({u"setup.exe", u"--silent"})),
              kExitAnotherInstallRunning);
    other.Release();
    EXPECT_EQ(TakeInstallLock(nullptr).result, InstallLockResult::Taken);
}

TEST(InstallLock, AWindowRunWaitsOnConnectingUntilTheLockIsFreeOrCancelled) {
    OtherRun other;
    std::atomic<bool> cancel{false};
    auto waiting = std::async(std::launch::async, [&cancel] {
        const InstallLock lock = TakeInstallLock(&cancel);
        return lock.result;
    });
    EXPECT_EQ(waiting.wait_for(std::chrono::milliseconds(300)), std::future_status::timeout);
    other.Release();
    EXPECT_EQ(waiting.get(), InstallLockResult::Taken);

    OtherRun again;
    InstallerState state;
    state.installDir = u"\\\\server\\share";
    StartInstall(state);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_EQ(GetStage(state), InstallStage::Installing);
    EXPECT_EQ(SnapshotProgress(state).statusText, u"Connecting");
    state.cancelRequested.exchange(true);  // Cancel
    state.worker.join();
    EXPECT_EQ(GetStage(state), InstallStage::Ready);
    EXPECT_FALSE(state.workerBusy.load());
}

}  // namespace
