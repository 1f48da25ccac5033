#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "app/state.h"
#include "common/build_info.h"
#include "common/scoped_override.h"

namespace {

struct Posted {
    WindowHandle window;
    uint32_t message;
};
std::vector<Posted> g_posted;
bool g_alive = true;
bool FakeAlive(WindowHandle) {
    return g_alive;
}
void FakePost(WindowHandle w, uint32_t m) {
    g_posted.push_back({w, m});
}

class StateProtocol : public ::testing::Test {
protected:
    void SetUp() override {
        g_posted.clear();
        g_alive = true;
    }
    ScopedOverride<WindowAliveFn> alive_{g_windowAlive, &FakeAlive};
    ScopedOverride<PostMessageFn> post_{g_postWindowMessage, &FakePost};
    WindowHandle fakeWindow_ = reinterpret_cast<WindowHandle>(0x1234);
};

TEST(InstallerStateDefaults, MatchTheRecordOfTheProtocol) {
    InstallerState s;
    EXPECT_EQ(s.instance, nullptr);
    EXPECT_EQ(s.window, nullptr);
    EXPECT_FLOAT_EQ(s.dpiScale, 1.0f);
    EXPECT_TRUE(s.createDesktopShortcut);
    EXPECT_TRUE(s.launchAfterInstall);
    EXPECT_TRUE(s.installDir.empty());
    EXPECT_EQ(s.baseUrl, BuiltInWebBaseUrl());
    EXPECT_EQ(s.hoverTarget, HitTarget::None);
    EXPECT_EQ(s.pressedTarget, HitTarget::None);
    EXPECT_FALSE(s.workerBusy.load());
    EXPECT_FALSE(s.cancelRequested.load());
    EXPECT_FALSE(s.worker.joinable());
    EXPECT_EQ(GetStage(s), InstallStage::Ready);
    EXPECT_EQ(s.wideButtonRect.x, 36);
    EXPECT_EQ(s.wideButtonRect.width, 368);
    EXPECT_EQ(s.rightButtonRect.x, 282);
    EXPECT_EQ(s.closeRect.x, 402);
    EXPECT_EQ(static_cast<int>(HitTarget::Caption), 8);
    EXPECT_EQ(WM_INSTALL_PROGRESS, 0x8001u);
    EXPECT_EQ(WM_INSTALL_STAGE, 0x8002u);
}

TEST_F(StateProtocol, PublishingWithoutAWindowUpdatesTheBlockAndPostsNothing) {
    InstallerState s;
    InstallProgress p;
    p.stage = InstallStage::Installing;
    p.statusText = u"Connecting";
    p.indeterminate = true;
    PublishProgress(s, p, false);
    EXPECT_TRUE(g_posted.empty());
    EXPECT_EQ(GetStage(s), InstallStage::Installing);
    EXPECT_EQ(SnapshotProgress(s).statusText, u"Connecting");
}

TEST_F(StateProtocol, PublishingPostsProgressOrStageMessages) {
    InstallerState s;
    s.window = fakeWindow_;
    InstallProgress p;
    p.stage = InstallStage::Installing;
    PublishProgress(s, p, false);
    p.stage = InstallStage::Done;
    PublishProgress(s, p, true);
    ASSERT_EQ(g_posted.size(), 2u);
    EXPECT_EQ(g_posted[0].message, WM_INSTALL_PROGRESS);
    EXPECT_EQ(g_posted[1].message, WM_INSTALL_STAGE);
    EXPECT_EQ(g_posted[1].window, fakeWindow_);
}

TEST_F(StateProtocol, PublishingAfterTheWindowIsGoneUpdatesTheBlockOnly) {
    InstallerState s;
    s.window = fakeWindow_;
    g_alive = false;
    InstallProgress p;
    p.stage = InstallStage::Done;
    p.clientExePath = u"C:\\Games\\VarnokClient\\VarnokClient.exe";
    PublishProgress(s, p, true);
    EXPECT_TRUE(g_posted.empty());
    EXPECT_EQ(SnapshotClientExePath(s), u"C:\\Games\\VarnokClient\\VarnokClient.exe");
}

TEST_F(StateProtocol, APublishedBlockReplacesEveryField) {
    InstallerState s;
    InstallProgress full;
    full.stage = InstallStage::Installing;
    full.statusText = u"Downloading";
    full.bytesDone = 5;
    full.bytesTotal = 10;
    full.bytesPerSecond = 3.5;
    PublishProgress(s, full, false);
    InstallProgress ready;  // cancel: every field back to its default
    PublishProgress(s, ready, true);
    const InstallProgress now = SnapshotProgress(s);
    EXPECT_EQ(now.stage, InstallStage::Ready);
    EXPECT_TRUE(now.statusText.empty());
    EXPECT_EQ(now.bytesDone, 0u);
    EXPECT_EQ(now.bytesTotal, 0u);
    EXPECT_EQ(now.bytesPerSecond, 0.0);
}

// The window must find workerBusy already clear when it handles the stage message; a post that
// looks at the flag proves the order.
bool g_busyAtPost = true;
InstallerState* g_observed = nullptr;
void PostRecordingBusy(WindowHandle, uint32_t m) {
    g_posted.push_back({nullptr, m});
    g_busyAtPost = g_observed->workerBusy.load();
}

TEST_F(StateProtocol, FailInstallClearsBusyFirstAndResetsEveryOtherField) {
    InstallerState s;
    s.window = fakeWindow_;
    g_observed = &s;
    ScopedOverride<PostMessageFn> post(g_postWindowMessage, &PostRecordingBusy);
    InstallProgress p;
    p.stage = InstallStage::Installing;
    p.statusText = u"Downloading";
    p.version = "2.0";
    p.clientExePath = u"C:\\x.exe";
    p.bytesDone = 7;
    p.bytesTotal = 9;
    p.bytesPerSecond = 100;
    p.indeterminate = true;
    PublishProgress(s, p, false);
    s.workerBusy = true;

    FailInstall(s, u"Download failed.");
    EXPECT_FALSE(s.workerBusy.load());
    EXPECT_FALSE(g_busyAtPost);
    ASSERT_EQ(g_posted.back().message, WM_INSTALL_STAGE);
    const InstallProgress now = SnapshotProgress(s);
    EXPECT_EQ(now.stage, InstallStage::Error);
    EXPECT_EQ(now.errorText, u"Download failed.");
    EXPECT_TRUE(now.statusText.empty());
    EXPECT_TRUE(now.version.empty());
    EXPECT_TRUE(now.clientExePath.empty());
    EXPECT_EQ(now.bytesDone, 0u);
    EXPECT_EQ(now.bytesTotal, 0u);
    EXPECT_EQ(now.bytesPerSecond, 0.0);
    EXPECT_FALSE(now.indeterminate);
}

TEST_F(StateProtocol, FailInstallWithAnEmptyMessageGivesTheErrorScreen) {
    InstallerState s;
    FailInstall(s, u"");
    EXPECT_EQ(GetStage(s), InstallStage::Error);
    EXPECT_TRUE(SnapshotProgress(s).errorText.empty());
}

// Two blocks whose every field derives from one number: a snapshot that mixes them shows it.
InstallProgress BlockFor(uint64_t n) {
    InstallProgress p;
    p.stage = (n % 2) ? InstallStage::Installing : InstallStage::Error;
    p.statusText =
        std::u16string(static_cast<size_t>(n % 50 + 1), u'a' + static_cast<char16_t>(n % 26));
    p.errorText = std::u16string(static_cast<size_t>(n % 37), u'e');
    p.version = std::to_string(n);
    p.bytesDone = n;
    p.bytesTotal = n * 2;
    p.bytesPerSecond = static_cast<double>(n) * 0.5;
    p.indeterminate = (n % 3) == 0;
    return p;
}

bool IsWholeBlock(const InstallProgress& p) {
    if (p.version.empty()) return p.bytesDone == 0 && p.statusText.empty();  // the initial block
    const InstallProgress expected = BlockFor(std::stoull(p.version));
    return p.stage == expected.stage && p.statusText == expected.statusText &&
           p.errorText == expected.errorText && p.bytesDone == expected.bytesDone &&
           p.bytesTotal == expected.bytesTotal && p.bytesPerSecond == expected.bytesPerSecond &&
           p.indeterminate == expected.indeterminate;
}

TEST_F(StateProtocol, ASnapshotTakenWhileAnotherThreadPublishesIsAlwaysOneWholeBlock) {
    InstallerState s;
    std::atomic<bool> stop{false};
    std::thread publisher([&] {
        for (uint64_t n = 1; !stop.load(); ++n) PublishProgress(s, BlockFor(n), false);
    });
    int torn = 0;
    for (int i = 0; i < 20000; ++i) {
        if (!IsWholeBlock(SnapshotProgress(s))) ++torn;
    }
    stop = true;
    publisher.join();
    EXPECT_EQ(torn, 0);
}

}  // namespace
