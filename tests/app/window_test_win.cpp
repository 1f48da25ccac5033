// The window procedure and the commands on a real (hidden) installer window: the messages are
// sent as the system would send them, and the effects are read back from the state and the
// window.
#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <thread>

#include "app/commands_win.h"
#include "app/install_start.h"
#include "app/state.h"
#include "app/window_win.h"
#include "common/scoped_override.h"
#include "common/text.h"
#include "common/text_win.h"
#include "tests/support/scratch.h"

namespace {

int g_workersStarted = 0;
std::thread StartIdleWorker(WorkerArgs) {
    ++g_workersStarted;
    return std::thread([] {});
}

std::optional<std::string> g_pickerAnswer;
std::u16string g_pickerTitle;
HWND g_pickerOwner = nullptr;
std::optional<std::string> FakePicker(HWND owner, std::u16string_view title) {
    g_pickerOwner = owner;
    g_pickerTitle = title;
    return g_pickerAnswer;
}

class InstallerWindow : public ::testing::Test {
protected:
    void SetUp() override {
        g_workersStarted = 0;
        g_pickerAnswer.reset();
        state_.instance = reinterpret_cast<InstanceHandle>(GetModuleHandleW(nullptr));
        window_ = CreateInstallerWindow(state_);
        ASSERT_NE(window_, nullptr) << "the tests need a display";
        scale_ = state_.dpiScale;
    }
    void TearDown() override {
        if (IsWindow(window_)) DestroyWindow(window_);
        MSG msg;  // WM_DESTROY posted WM_QUIT to this thread
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        }
        if (state_.worker.joinable()) state_.worker.join();
    }
    // Client coordinates of a logical point, as the mouse messages carry them.
    LPARAM At(float x, float y) const {
        return MAKELPARAM(static_cast<int>(x * scale_), static_cast<int>(y * scale_));
    }
    void Click(float downX, float downY, float upX, float upY) {
        SendMessageW(window_, WM_LBUTTONDOWN, MK_LBUTTON, At(downX, downY));
        SendMessageW(window_, WM_LBUTTONUP, 0, At(upX, upY));
    }
    void SetStage(InstallStage stage) {
        InstallProgress p;
        p.stage = stage;
        PublishProgress(state_, p, false);
    }

    InstallerState state_;
    HWND window_ = nullptr;
    float scale_ = 1.0f;
    ScopedOverride<WorkerThreadStarter> starter_{g_startWorkerThread, &StartIdleWorker};
    ScopedOverride<PickFolderFn> picker_{g_pickFolder, &FakePicker};
};

TEST(InstallerWindowWithoutState, AnswersWithTheFallbacks) {
    HWND plain =
        CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(plain, nullptr);
    EXPECT_EQ(InstallerWindowProc(plain, WM_NCHITTEST, 0, MAKELPARAM(5, 5)), HTCLIENT);
    EXPECT_EQ(InstallerWindowProc(plain, WM_MOUSEMOVE, 0, MAKELPARAM(5, 5)), 0);
    EXPECT_EQ(InstallerWindowProc(plain, WM_LBUTTONUP, 0, MAKELPARAM(5, 5)), 0);
    EXPECT_EQ(InstallerWindowProc(plain, WM_TIMER, kAnimationTimerId, 0), 0);
    EXPECT_EQ(InstallerWindowProc(plain, WM_INSTALL_STAGE, 0, 0), 0);
    EXPECT_EQ(InstallerWindowProc(plain, WM_ERASEBKGND, 0, 0), 1);
    DestroyWindow(plain);
}

TEST_F(InstallerWindow, TheHeaderOutsideTheButtonsIsTheCaptionAndEverythingElseIsClient) {
    EXPECT_EQ(StateOf(window_), &state_);
    RECT r;
    GetWindowRect(window_, &r);
    auto hit = [&](float x, float y) {
        const int sx = r.left + static_cast<int>(x * scale_);
        const int sy = r.top + static_cast<int>(y * scale_);
        return SendMessageW(window_, WM_NCHITTEST, 0, MAKELPARAM(sx, sy));
    };
    EXPECT_EQ(hit(100, 10), HTCAPTION);
    EXPECT_EQ(hit(100, 48), HTCAPTION);
    EXPECT_EQ(hit(100, 60), HTCLIENT);
    EXPECT_EQ(hit(410, 10), HTCLIENT);  // close button
    EXPECT_EQ(hit(380, 10), HTCLIENT);  // minimise button
}

TEST_F(InstallerWindow, HoverFollowsTheMouseAndTheCursorIsAHandOnlyOverControls) {
    SendMessageW(window_, WM_MOUSEMOVE, 0, At(350, 165));
    EXPECT_EQ(state_.hoverTarget, HitTarget::Browse);
    EXPECT_TRUE(state_.mouseTracking);
    EXPECT_EQ(SendMessageW(window_, WM_SETCURSOR, reinterpret_cast<WPARAM>(window_),
                           MAKELPARAM(HTCLIENT, WM_MOUSEMOVE)),
              TRUE);
    EXPECT_EQ(GetCursor(), LoadCursorW(nullptr, IDC_HAND));

    SendMessageW(window_, WM_MOUSEMOVE, 0, At(410, 10));
    EXPECT_EQ(state_.hoverTarget, HitTarget::Close);
    SendMessageW(window_, WM_MOUSEMOVE, 0, At(200, 100));
    EXPECT_EQ(state_.hoverTarget, HitTarget::None);
    SendMessageW(window_, WM_SETCURSOR, reinterpret_cast<WPARAM>(window_),
                 MAKELPARAM(HTCLIENT, WM_MOUSEMOVE));
    EXPECT_EQ(GetCursor(), LoadCursorW(nullptr, IDC_ARROW));

    SendMessageW(window_, WM_MOUSEMOVE, 0, At(300, 210));
    EXPECT_EQ(state_.hoverTarget, HitTarget::DesktopShortcut);
    SendMessageW(window_, WM_MOUSELEAVE, 0, 0);
    EXPECT_EQ(state_.hoverTarget, HitTarget::None);
    EXPECT_FALSE(state_.mouseTracking);
}

TEST_F(InstallerWindow, AClickOnACheckBoxLabelTogglesItAndAReleaseElsewhereDoesNot) {
    Click(300, 210, 300, 210);  // the label side of the "Desktop shortcut" row
    EXPECT_FALSE(state_.createDesktopShortcut);
    EXPECT_EQ(state_.pressedTarget, HitTarget::None);
    Click(40, 238, 40, 238);  // the box of "Launch after install"
    EXPECT_FALSE(state_.launchAfterInstall);
    Click(100, 238, 100, 210);  // pressed on one row, released on the other
    EXPECT_FALSE(state_.launchAfterInstall);
    EXPECT_FALSE(state_.createDesktopShortcut);
    EXPECT_EQ(state_.pressedTarget, HitTarget::None);
}

TEST_F(InstallerWindow, PressingInstallStartsOnlyWhenReleasedOverIt) {
    SendMessageW(window_, WM_LBUTTONDOWN, MK_LBUTTON, At(200, 285));
    EXPECT_EQ(state_.pressedTarget, HitTarget::Primary);
    EXPECT_EQ(GetCapture(), window_);
    SendMessageW(window_, WM_LBUTTONUP, 0, At(200, 320));
    EXPECT_EQ(GetCapture(), nullptr);
    EXPECT_EQ(g_workersStarted, 0);
    EXPECT_EQ(GetStage(state_), InstallStage::Ready);

    Click(200, 285, 390, 300);  // released elsewhere on the same button
    EXPECT_EQ(g_workersStarted, 1);
    EXPECT_EQ(GetStage(state_), InstallStage::Installing);
}

TEST_F(InstallerWindow, TheTimerAnimatesOnlyWhileInstalling) {
    SendMessageW(window_, WM_TIMER, kAnimationTimerId, 0);
    EXPECT_EQ(state_.animPhase, 0.0f);
    SetStage(InstallStage::Installing);
    SendMessageW(window_, WM_TIMER, kAnimationTimerId, 0);
    SendMessageW(window_, WM_TIMER, kAnimationTimerId, 0);
    EXPECT_FLOAT_EQ(state_.animPhase, 0.05f);
    SendMessageW(window_, WM_TIMER, kAnimationTimerId + 1, 0);
    EXPECT_FLOAT_EQ(state_.animPhase, 0.05f);
    SetStage(InstallStage::Error);
    SendMessageW(window_, WM_TIMER, kAnimationTimerId, 0);
    EXPECT_FLOAT_EQ(state_.animPhase, 0.05f);
}

TEST_F(InstallerWindow, ADpiChangeTakesTheSuggestedPositionAndRecomputesTheSize) {
    RECT suggested{100, 50, 100 + 600, 50 + 400};  // a size that is not ours
    SendMessageW(window_, WM_DPICHANGED, MAKEWPARAM(144, 144),
                 reinterpret_cast<LPARAM>(&suggested));
    EXPECT_FLOAT_EQ(state_.dpiScale, 1.5f);
    RECT r;
    GetWindowRect(window_, &r);
    EXPECT_EQ(r.left, 100);
    EXPECT_EQ(r.top, 50);
    EXPECT_EQ(r.right - r.left, 660);
    EXPECT_EQ(r.bottom - r.top, 504);
    // Every target scales with it: the Browse button's bottom-right corner is at 598, 268.
    SendMessageW(window_, WM_MOUSEMOVE, 0, MAKELPARAM(598, 268));
    EXPECT_EQ(state_.hoverTarget, HitTarget::Browse);
    SendMessageW(window_, WM_MOUSEMOVE, 0, MAKELPARAM(599, 268));
    EXPECT_EQ(state_.hoverTarget, HitTarget::None);
}

TEST_F(InstallerWindow, TheCloseButtonCancelsABusyWorkerAndDestroysTheWindow) {
    state_.workerBusy.exchange(true);
    Click(415, 18, 415, 18);
    EXPECT_TRUE(state_.cancelRequested.load());
    EXPECT_FALSE(IsWindow(window_));
}

TEST_F(InstallerWindow, CloseWhileIdleDoesNotRaiseTheCancelRequest) {
    HandleCommand(state_, HitTarget::Close);
    EXPECT_FALSE(state_.cancelRequested.load());
    EXPECT_FALSE(IsWindow(window_));
}

TEST_F(InstallerWindow, CancelKeepsTheWindowAndTheInstallingScreen) {
    SetStage(InstallStage::Installing);
    Click(200, 285, 200, 285);
    EXPECT_TRUE(state_.cancelRequested.load());
    EXPECT_TRUE(IsWindow(window_));
    EXPECT_EQ(GetStage(state_), InstallStage::Installing);
    HandleCommand(state_, HitTarget::Primary);  // nothing on the Installing screen
    EXPECT_EQ(g_workersStarted, 0);
}

TEST_F(InstallerWindow, RetryOnTheErrorScreenStartsANewInstall) {
    SetStage(InstallStage::Error);
    Click(100, 285, 100, 285);
    EXPECT_EQ(g_workersStarted, 1);
    EXPECT_EQ(GetStage(state_), InstallStage::Installing);
}

TEST_F(InstallerWindow, TheCloseButtonOfTheErrorScreenDestroysTheWindow) {
    SetStage(InstallStage::Error);
    Click(340, 285, 340, 285);
    EXPECT_FALSE(IsWindow(window_));
}

TEST_F(InstallerWindow, MinimiseMinimises) {
    ShowWindow(window_, SW_SHOWNOACTIVATE);
    Click(384, 18, 384, 18);
    EXPECT_TRUE(IsIconic(window_));
}

TEST_F(InstallerWindow, BrowseStoresAnAcceptedFolderAndIgnoresARefusedOrCancelledOne) {
    const std::u16string before = state_.installDir = u"C:\\Games\\VarnokClient";
    Click(350, 165, 350, 165);  // the picker is cancelled
    EXPECT_EQ(state_.installDir, before);
    EXPECT_EQ(g_pickerTitle, u"Choose Varnok Client install folder");
    EXPECT_EQ(g_pickerOwner, window_);

    g_pickerAnswer = "\\\\server\\share\\Games";
    Click(350, 165, 350, 165);
    EXPECT_EQ(state_.installDir, before);

    g_pickerAnswer = "D:\\Games";
    Click(350, 165, 350, 165);
    EXPECT_EQ(state_.installDir, u"D:\\Games\\VarnokClient");
}

// The stand-in client from the build, copied into a scratch folder as the installed client.
std::u16string PlaceStandIn(const ScratchDir& dir) {
    std::string built = VARNOK_STANDIN_EXE;
    if (!built.empty() && built[0] == '/') built = "Z:" + built;  // Wine's drive for the Linux root
    const std::filesystem::path exe = dir / "VarnokClient.exe";
    std::filesystem::copy_file(std::filesystem::path(Utf8ToUtf16(built)), exe);
    return FromWide(exe.wstring());
}

std::string WaitForLaunchLog(const ScratchDir& dir) {
    const std::filesystem::path log = dir / "standin-launches.log";
    for (int i = 0; i < 200; ++i) {
        std::error_code ec;
        if (std::filesystem::file_size(log, ec) > 0 && !ec) return ReadFileBytes(log);
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return {};
}

TEST_F(InstallerWindow, ADoneMessageLaunchesTheClientFromItsFolderAndClosesTheWindow) {
    ScratchDir dir;
    InstallProgress done;
    done.stage = InstallStage::Done;
    done.clientExePath = PlaceStandIn(dir);
    PublishProgress(state_, done, false);
    SendMessageW(window_, WM_INSTALL_STAGE, 0, 0);
    EXPECT_FALSE(IsWindow(window_));
    const std::string log = WaitForLaunchLog(dir);
    ASSERT_FALSE(log.empty()) << "the client was not started";
    std::string folder = dir.Utf8();
    std::string escaped;
    for (char c : folder) escaped += (c == '\\') ? std::string("\\\\") : std::string(1, c);
    EXPECT_NE(log.find("\"cwd\":\"" + escaped), std::string::npos) << log;
}

TEST_F(InstallerWindow, WithoutLaunchAfterInstallTheDoneScreenStays) {
    ScratchDir dir;
    state_.launchAfterInstall = false;
    InstallProgress done;
    done.stage = InstallStage::Done;
    done.clientExePath = PlaceStandIn(dir);
    PublishProgress(state_, done, false);
    SendMessageW(window_, WM_INSTALL_STAGE, 0, 0);
    EXPECT_TRUE(IsWindow(window_));
    Click(100, 285, 100, 285);  // Launch
    EXPECT_FALSE(IsWindow(window_));
    EXPECT_FALSE(WaitForLaunchLog(dir).empty()) << "Launch did not start the client";
}

TEST_F(InstallerWindow, LaunchWithoutAClientPathOnlyClosesTheWindow) {
    SetStage(InstallStage::Done);
    Click(100, 285, 100, 285);
    EXPECT_FALSE(IsWindow(window_));
}

}  // namespace
