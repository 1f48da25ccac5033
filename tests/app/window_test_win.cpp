// The window procedure and the commands on a real (hidden) installer window: the messages are
// sent as the system would send them, and the effects are read back from the state and the
// window.
#include <windows.h>
#include <oleacc.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <filesystem>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "app/commands_win.h"
#include "app/focus.h"
#include "app/install_start.h"
#include "app/state.h"
#include "app/window_win.h"
#include "common/handles_win.h"
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

    // A key as the system sends it: a first press, or an auto-repeat (previous state down).
    void Key(WPARAM virtualKey, bool repeat = false) {
        const LPARAM lParam = 1 | (repeat ? (LPARAM{1} << 30) : 0);
        SendMessageW(window_, WM_KEYDOWN, virtualKey, lParam);
    }
    void ShiftTab() {
        BYTE keys[256] = {};
        GetKeyboardState(keys);
        keys[VK_SHIFT] = 0x80;
        SetKeyboardState(keys);
        Key(VK_TAB);
        keys[VK_SHIFT] = 0;
        SetKeyboardState(keys);
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

// --- the keyboard ----------------------------------------------------------------------------

TEST_F(InstallerWindow, TabWalksTheReadyScreenFromInstallAndShowsTheCue) {
    EXPECT_FALSE(state_.focusVisible);
    EXPECT_EQ(FocusedControl(state_, InstallStage::Ready), HitTarget::Primary);
    const HitTarget expected[] = {HitTarget::Browse, HitTarget::DesktopShortcut,
                                  HitTarget::LaunchAfterInstall, HitTarget::Primary,
                                  HitTarget::Browse};
    for (HitTarget target : expected) {
        Key(VK_TAB);
        EXPECT_EQ(FocusedControl(state_, InstallStage::Ready), target);
    }
    EXPECT_TRUE(state_.focusVisible);
    ShiftTab();
    EXPECT_EQ(FocusedControl(state_, InstallStage::Ready), HitTarget::Primary);
    EXPECT_EQ(g_workersStarted, 0);
}

TEST_F(InstallerWindow, SpaceTogglesTheFocusedCheckBoxAndEnterThereStartsTheInstall) {
    Key(VK_TAB);
    Key(VK_TAB);  // Desktop shortcut
    Key(VK_SPACE);
    EXPECT_FALSE(state_.createDesktopShortcut);
    Key(VK_SPACE, /*repeat=*/true);  // a held space toggles once
    EXPECT_FALSE(state_.createDesktopShortcut);
    Key(VK_RETURN);
    EXPECT_FALSE(state_.createDesktopShortcut);
    EXPECT_TRUE(state_.launchAfterInstall);
    EXPECT_EQ(g_workersStarted, 1);
    EXPECT_EQ(GetStage(state_), InstallStage::Installing);
    // The new screen's focus is its only button, Cancel.
    EXPECT_EQ(state_.focusTarget, HitTarget::Secondary);
    EXPECT_EQ(state_.focusStage, InstallStage::Installing);
}

TEST_F(InstallerWindow, AHeldEnterStartsOneInstall) {
    Key(VK_RETURN);
    Key(VK_RETURN, /*repeat=*/true);
    Key(VK_RETURN, /*repeat=*/true);
    EXPECT_EQ(g_workersStarted, 1);
    EXPECT_FALSE(state_.cancelRequested.load()) << "a repeat reached Cancel";
}

TEST_F(InstallerWindow, EscapeCancelsWhileInstalling) {
    SetStage(InstallStage::Installing);
    Key(VK_ESCAPE);
    EXPECT_TRUE(state_.cancelRequested.load());
    EXPECT_TRUE(IsWindow(window_));
    EXPECT_EQ(GetStage(state_), InstallStage::Installing);
}

TEST(InstallerWindowKeys, EscapeClosesTheReadyDoneAndErrorScreens) {
    for (InstallStage stage : {InstallStage::Ready, InstallStage::Done, InstallStage::Error}) {
        InstallerState state;
        state.instance = reinterpret_cast<InstanceHandle>(GetModuleHandleW(nullptr));
        HWND window = CreateInstallerWindow(state);
        ASSERT_NE(window, nullptr);
        InstallProgress p;
        p.stage = stage;
        PublishProgress(state, p, false);
        SendMessageW(window, WM_KEYDOWN, VK_ESCAPE, 1);
        EXPECT_FALSE(IsWindow(window)) << "stage " << static_cast<int>(stage);
        EXPECT_FALSE(state.workerBusy.load());
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        }
    }
}

TEST_F(InstallerWindow, EnterOnTheErrorScreenRetriesAndTabReachesClose) {
    SetStage(InstallStage::Error);
    SendMessageW(window_, WM_INSTALL_STAGE, 0, 0);
    Key(VK_TAB);
    EXPECT_EQ(FocusedControl(state_, InstallStage::Error), HitTarget::Secondary);
    Key(VK_TAB);
    Key(VK_RETURN);
    EXPECT_EQ(g_workersStarted, 1);
}

TEST_F(InstallerWindow, AClickMovesTheFocusAndTheSystemCanHideTheCueAgain) {
    Click(300, 238, 300, 238);  // the "Launch after install" row
    EXPECT_EQ(FocusedControl(state_, InstallStage::Ready), HitTarget::LaunchAfterInstall);
    EXPECT_FALSE(state_.focusVisible) << "a click showed the cue";
    Key(VK_TAB);
    EXPECT_EQ(FocusedControl(state_, InstallStage::Ready), HitTarget::Primary);
    EXPECT_TRUE(state_.focusVisible);
    SendMessageW(window_, WM_UPDATEUISTATE, MAKEWPARAM(UIS_SET, UISF_HIDEFOCUS), 0);
    EXPECT_FALSE(state_.focusVisible);
    SendMessageW(window_, WM_UPDATEUISTATE, MAKEWPARAM(UIS_CLEAR, UISF_HIDEACCEL), 0);
    EXPECT_FALSE(state_.focusVisible) << "another cue flag changed the focus cue";
    SendMessageW(window_, WM_UPDATEUISTATE, MAKEWPARAM(UIS_CLEAR, UISF_HIDEFOCUS), 0);
    EXPECT_TRUE(state_.focusVisible);
}

// --- the accessible object, in this process ----------------------------------------------------

struct ChildView {
    std::u16string name;
    long role = 0;
    long states = 0;
    std::u16string action;
    std::u16string value;
};

std::u16string TakeText(HRESULT hr, BSTR text) {
    std::u16string out;
    if (SUCCEEDED(hr) && text) out.assign(reinterpret_cast<const char16_t*>(text));
    SysFreeString(text);
    return out;
}

VARIANT ChildVariant(long id) {
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_I4;
    v.lVal = id;
    return v;
}

ChildView ReadChild(IAccessible* object, long id) {
    const VARIANT child = ChildVariant(id);
    ChildView view;
    BSTR text = nullptr;
    HRESULT hr = object->get_accName(child, &text);
    view.name = TakeText(hr, text);
    text = nullptr;
    hr = object->get_accDefaultAction(child, &text);
    view.action = TakeText(hr, text);
    text = nullptr;
    hr = object->get_accValue(child, &text);
    view.value = TakeText(hr, text);
    VARIANT v;
    VariantInit(&v);
    if (SUCCEEDED(object->get_accRole(child, &v)) && v.vt == VT_I4) view.role = v.lVal;
    VariantInit(&v);
    if (SUCCEEDED(object->get_accState(child, &v)) && v.vt == VT_I4) view.states = v.lVal;
    return view;
}

class AccessibleWindow : public InstallerWindow {
protected:
    void SetUp() override {
        InstallerWindow::SetUp();
        ShowWindow(window_, SW_SHOW);
        SetForegroundWindow(window_);
        SetFocus(window_);
        IAccessible* object = nullptr;
        ASSERT_EQ(AccessibleObjectFromWindow(window_, OBJID_CLIENT, __uuidof(IAccessible),
                                             reinterpret_cast<void**>(&object)),
                  S_OK);
        object_.reset(object);
    }
    void TearDown() override {
        object_.reset();
        InstallerWindow::TearDown();
    }
    long ChildCount() {
        long count = -1;
        EXPECT_EQ(object_.get()->get_accChildCount(&count), S_OK);
        return count;
    }
    void Pump() {
        MSG msg;
        while (PeekMessageW(&msg, window_, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
    }

    UniqueComApartment com_ = EnterComApartment();
    ComPtr<IAccessible> object_;
};

TEST_F(AccessibleWindow, TheReadyScreenReadsAsTextButtonsAndCheckBoxes) {
    ASSERT_EQ(GetFocus(), window_) << "the window needs the keyboard focus";
    state_.installDir = u"C:\\Games\\VarnokClient";
    state_.launchAfterInstall = false;
    ASSERT_EQ(ChildCount(), 5);
    const long focusable = STATE_SYSTEM_FOCUSABLE;
    struct Row {
        std::u16string name;
        long role;
        long states;
        std::u16string action;
    } const rows[] = {
        {u"C:\\Games\\VarnokClient", ROLE_SYSTEM_STATICTEXT, STATE_SYSTEM_READONLY, u""},
        {u"Browse", ROLE_SYSTEM_PUSHBUTTON, focusable, u"Press"},
        {u"Desktop shortcut", ROLE_SYSTEM_CHECKBUTTON, focusable | STATE_SYSTEM_CHECKED,
         u"Uncheck"},
        {u"Launch after install", ROLE_SYSTEM_CHECKBUTTON, focusable, u"Check"},
        {u"Install", ROLE_SYSTEM_PUSHBUTTON, focusable | STATE_SYSTEM_FOCUSED, u"Press"},
    };
    for (long id = 1; id <= 5; ++id) {
        const ChildView child = ReadChild(object_.get(), id);
        const Row& row = rows[id - 1];
        EXPECT_EQ(child.name, row.name) << id;
        EXPECT_EQ(child.role, row.role) << id;
        EXPECT_EQ(child.states, row.states) << id;
        EXPECT_EQ(child.action, row.action) << id;
    }
    const ChildView self = ReadChild(object_.get(), CHILDID_SELF);
    EXPECT_EQ(self.name, u"Varnok Client");
    EXPECT_EQ(self.role, ROLE_SYSTEM_CLIENT);

    IDispatch* element = reinterpret_cast<IDispatch*>(1);
    EXPECT_EQ(object_.get()->get_accChild(ChildVariant(2), &element), S_FALSE);
    EXPECT_EQ(element, nullptr);
    EXPECT_EQ(object_.get()->get_accChild(ChildVariant(6), &element), E_INVALIDARG);
}

TEST_F(AccessibleWindow, TheFocusFollowsTabAndEachChildSitsAtItsScaledPlace) {
    VARIANT focus;
    VariantInit(&focus);
    ASSERT_EQ(object_.get()->get_accFocus(&focus), S_OK);
    EXPECT_EQ(focus.lVal, 5);
    Key(VK_TAB);
    ASSERT_EQ(object_.get()->get_accFocus(&focus), S_OK);
    EXPECT_EQ(focus.lVal, 2);

    RECT window{};
    GetWindowRect(window_, &window);
    long x = 0, y = 0, w = 0, h = 0;
    ASSERT_EQ(object_.get()->accLocation(&x, &y, &w, &h, ChildVariant(5)), S_OK);
    EXPECT_EQ(x, window.left + std::lround(36 * scale_));
    EXPECT_EQ(y, window.top + std::lround(264 * scale_));
    EXPECT_EQ(w, std::lround(404 * scale_) - std::lround(36 * scale_));
    EXPECT_EQ(h, std::lround(306 * scale_) - std::lround(264 * scale_));

    VARIANT hit;
    VariantInit(&hit);
    ASSERT_EQ(object_.get()->accHitTest(window.left + static_cast<long>(350 * scale_),
                                        window.top + static_cast<long>(165 * scale_), &hit),
              S_OK);
    EXPECT_EQ(hit.lVal, 2);
}

TEST_F(AccessibleWindow, InstallsDefaultActionShowsTheInstallingScreenAndItsTree) {
    ASSERT_EQ(object_.get()->accDoDefaultAction(ChildVariant(5)), S_OK);
    Pump();
    EXPECT_EQ(g_workersStarted, 1);
    ASSERT_EQ(GetStage(state_), InstallStage::Installing);
    ASSERT_EQ(ChildCount(), 3);
    EXPECT_EQ(ReadChild(object_.get(), 1).name, u"Connecting");
    EXPECT_EQ(ReadChild(object_.get(), 2).role, ROLE_SYSTEM_PROGRESSBAR);
    const ChildView cancel = ReadChild(object_.get(), 3);
    EXPECT_EQ(cancel.name, u"Cancel");
    EXPECT_EQ(cancel.states, STATE_SYSTEM_FOCUSABLE | STATE_SYSTEM_FOCUSED);

    ASSERT_EQ(object_.get()->accDoDefaultAction(ChildVariant(3)), S_OK);
    Pump();
    EXPECT_TRUE(state_.cancelRequested.load());
    EXPECT_EQ(ReadChild(object_.get(), 3).states & STATE_SYSTEM_UNAVAILABLE,
              STATE_SYSTEM_UNAVAILABLE);
    EXPECT_EQ(object_.get()->accDoDefaultAction(ChildVariant(1)), DISP_E_MEMBERNOTFOUND);
}

TEST_F(AccessibleWindow, NoActionWhileTheWindowIsDisabledNorOnceItsScreenHasGone) {
    EnableWindow(window_, FALSE);  // as while the folder picker is open
    EXPECT_EQ(object_.get()->accDoDefaultAction(ChildVariant(5)), E_FAIL);
    EXPECT_EQ(object_.get()->accSelect(SELFLAG_TAKEFOCUS, ChildVariant(2)), E_FAIL);
    EXPECT_EQ(ReadChild(object_.get(), 5).states & STATE_SYSTEM_UNAVAILABLE,
              STATE_SYSTEM_UNAVAILABLE);
    Pump();
    EXPECT_EQ(g_workersStarted, 0);
    EnableWindow(window_, TRUE);

    ASSERT_EQ(object_.get()->accDoDefaultAction(ChildVariant(5)), S_OK);
    Pump();
    ASSERT_EQ(object_.get()->accDoDefaultAction(ChildVariant(3)), S_OK);  // Cancel, still queued
    FailInstall(state_, u"Download failed. Please try again.");           // when Error shows
    Pump();
    EXPECT_TRUE(IsWindow(window_)) << "the Cancel ran as a command of the Error screen";
    EXPECT_EQ(GetStage(state_), InstallStage::Error);
    EXPECT_EQ(g_workersStarted, 1);
}

TEST_F(AccessibleWindow, TheErrorMessageIsReadableAndTheObjectOutlivesTheWindowSafely) {
    FailInstall(state_, u"Download failed. Please try again.");
    ASSERT_EQ(ChildCount(), 4);
    EXPECT_EQ(ReadChild(object_.get(), 1).name, u"Installation failed");
    EXPECT_EQ(ReadChild(object_.get(), 2).name, u"Download failed. Please try again.");
    EXPECT_EQ(ReadChild(object_.get(), 2).role, ROLE_SYSTEM_STATICTEXT);
    EXPECT_EQ(ReadChild(object_.get(), 3).name, u"Retry");
    EXPECT_EQ(ReadChild(object_.get(), 4).name, u"Close");

    DestroyWindow(window_);
    long count = 0;
    EXPECT_EQ(object_.get()->get_accChildCount(&count), E_FAIL);
}

// --- the WinEvents that make a reader announce changes ------------------------------------------

struct SeenEvent {
    DWORD event;
    long child;
    bool operator==(const SeenEvent&) const = default;
};
std::vector<SeenEvent> g_seenEvents;
HWND g_watchedWindow = nullptr;

void CALLBACK RecordEvent(HWINEVENTHOOK, DWORD event, HWND window, LONG object, LONG child, DWORD,
                          DWORD) {
    if (window == g_watchedWindow && object == OBJID_CLIENT) g_seenEvents.push_back({event, child});
}

class AccessibleEvents : public InstallerWindow {
protected:
    void SetUp() override {
        InstallerWindow::SetUp();
        g_seenEvents.clear();
        g_watchedWindow = window_;
        hook_ = SetWinEventHook(EVENT_OBJECT_CREATE, EVENT_OBJECT_VALUECHANGE, nullptr,
                                &RecordEvent, GetCurrentProcessId(), 0, WINEVENT_OUTOFCONTEXT);
        ASSERT_NE(hook_, nullptr);
    }
    void TearDown() override {
        UnhookWinEvent(hook_);
        InstallerWindow::TearDown();
    }
    // Out-of-context events arrive through this thread's message queue.
    std::vector<SeenEvent> Take() {
        MSG msg;
        for (int i = 0; i < 5; ++i) {
            while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
            Sleep(20);
        }
        return std::exchange(g_seenEvents, {});
    }
    HWINEVENTHOOK hook_ = nullptr;
};

TEST_F(AccessibleEvents, FocusMovesTicksStatusAndNewScreensAreAnnounced) {
    // Whether this system delivers WinEvents at all, told apart from whether we raise ours.
    NotifyWinEvent(EVENT_OBJECT_NAMECHANGE, window_, OBJID_CLIENT, 99);
    if (Take().empty()) GTEST_SKIP() << "this system delivers no out-of-context WinEvents";

    Key(VK_TAB);  // Browse
    Key(VK_TAB);  // Desktop shortcut
    EXPECT_EQ(Take(), (std::vector<SeenEvent>{{EVENT_OBJECT_FOCUS, 2}, {EVENT_OBJECT_FOCUS, 3}}));
    Key(VK_SPACE);
    EXPECT_EQ(Take(), (std::vector<SeenEvent>{{EVENT_OBJECT_STATECHANGE, 3}}));
    Key(VK_RETURN);  // Install: the Installing screen, focus on Cancel
    EXPECT_EQ(Take(), (std::vector<SeenEvent>{{EVENT_OBJECT_REORDER, CHILDID_SELF},
                                              {EVENT_OBJECT_FOCUS, 3}}));
    InstallProgress p;
    p.stage = InstallStage::Installing;
    p.statusText = u"Downloading";
    p.bytesDone = 1;
    p.bytesTotal = 4;
    PublishProgress(state_, p, false);
    EXPECT_EQ(Take(), (std::vector<SeenEvent>{{EVENT_OBJECT_NAMECHANGE, 1},
                                              {EVENT_OBJECT_VALUECHANGE, 2}}));
    PublishProgress(state_, p, false);
    EXPECT_EQ(Take(), (std::vector<SeenEvent>{})) << "an unchanged view is announced again";
}

}  // namespace
