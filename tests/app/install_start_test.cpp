// Starting an install: the Connecting screen at once, one worker at a time, the previous worker
// joined and the cancel request cleared on Retry, and a clean failure when no thread can start.
#include <gtest/gtest.h>

#include <future>
#include <system_error>
#include <thread>
#include <vector>

#include "app/install_start.h"
#include "app/state.h"
#include "common/scoped_override.h"

namespace {

// A worker that waits until the test lets it fail, so the test sees the state in between.
struct HeldWorkers {
    std::vector<WorkerArgs> started;
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
};
HeldWorkers* g_held = nullptr;

std::thread StartHeldWorker(WorkerArgs args) {
    g_held->started.push_back(args);
    std::shared_future<void> gate = g_held->released;
    return std::thread([gate, args] {
        gate.wait();
        FailInstall(*args.state, u"held worker failed");
    });
}

std::thread FailToStartThread(WorkerArgs) {
    throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again));
}

class StartInstallTest : public ::testing::Test {
protected:
    void SetUp() override { g_held = &held_; }
    void TearDown() override {
        ReleaseWorker();
        if (state_.worker.joinable()) state_.worker.join();
        g_held = nullptr;
    }
    void ReleaseWorker() {
        if (!released_) held_.release.set_value();
        released_ = true;
    }
    // Workers started from now on wait again; the earlier gate has already been opened.
    void HoldNextWorker() {
        held_.release = std::promise<void>();
        held_.released = held_.release.get_future().share();
        released_ = false;
    }
    void WaitForWorker() {
        ReleaseWorker();
        state_.worker.join();
    }

    HeldWorkers held_;
    bool released_ = false;
    InstallerState state_;
    ScopedOverride<WorkerThreadStarter> starter_{g_startWorkerThread, &StartHeldWorker};
};

TEST_F(StartInstallTest, ShowsConnectingBeforeTheWorkerHasRun) {
    state_.progress.errorText = u"left over";
    StartInstall(state_);
    EXPECT_EQ(GetStage(state_), InstallStage::Installing);
    const InstallProgress p = SnapshotProgress(state_);
    EXPECT_EQ(p.statusText, u"Connecting");
    EXPECT_TRUE(p.indeterminate);
    EXPECT_TRUE(p.errorText.empty());
    EXPECT_EQ(p.bytesTotal, 0u);
    EXPECT_TRUE(state_.workerBusy.load());
    EXPECT_TRUE(state_.worker.joinable());
}

TEST_F(StartInstallTest, HandsTheWorkerCopiesOfTheChoicesMadeWhenInstallWasPressed) {
    state_.installDir = u"D:\\Games\\VarnokClient";
    state_.baseUrl = "https://updates.example";
    state_.createDesktopShortcut = false;
    StartInstall(state_);
    state_.installDir = u"changed";
    state_.createDesktopShortcut = true;
    ASSERT_EQ(held_.started.size(), 1u);
    EXPECT_EQ(held_.started[0].state, &state_);
    EXPECT_EQ(held_.started[0].installDir, u"D:\\Games\\VarnokClient");
    EXPECT_EQ(held_.started[0].baseUrl, "https://updates.example");
    EXPECT_FALSE(held_.started[0].createDesktopShortcut);
}

TEST_F(StartInstallTest, ASecondStartWhileAWorkerIsBusyDoesNothing) {
    StartInstall(state_);
    state_.cancelRequested.exchange(true);  // Cancel was pressed meanwhile
    StartInstall(state_);
    EXPECT_EQ(held_.started.size(), 1u);
    EXPECT_TRUE(state_.cancelRequested.load());
}

TEST_F(StartInstallTest, RetryJoinsTheFailedWorkerAndClearsTheCancelRequest) {
    StartInstall(state_);
    ReleaseWorker();
    while (GetStage(state_) != InstallStage::Error) std::this_thread::yield();
    EXPECT_FALSE(state_.workerBusy.load());
    state_.cancelRequested.exchange(true);

    HoldNextWorker();
    StartInstall(state_);  // the old thread is still joinable: StartInstall must join it
    EXPECT_EQ(held_.started.size(), 2u);
    EXPECT_FALSE(state_.cancelRequested.load());
    EXPECT_TRUE(state_.workerBusy.load());
    WaitForWorker();
}

TEST_F(StartInstallTest, AWorkerThatCannotBeStartedEndsOnTheErrorScreenReadyForRetry) {
    // A thread the system refuses, and a build without a worker at all.
    const struct {
        WorkerThreadStarter starter;
        const char* code;
    } rows[] = {{&FailToStartThread, "thread_not_started"}, {nullptr, "no_worker"}};
    for (const auto& row : rows) {
        ScopedOverride<WorkerThreadStarter> failing{g_startWorkerThread, row.starter};
        StartInstall(state_);
        EXPECT_EQ(GetStage(state_), InstallStage::Error);
        EXPECT_EQ(SnapshotProgress(state_).errorText, kWorkerNotStartedMessage);
        EXPECT_EQ(SnapshotProgress(state_).failure.step, "start_worker");
        EXPECT_EQ(SnapshotProgress(state_).failure.code, row.code);
        EXPECT_FALSE(state_.workerBusy.load());
        EXPECT_FALSE(state_.worker.joinable());
    }
}

}  // namespace
