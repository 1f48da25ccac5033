// The protocol against real windows: a live window receives the two messages, a destroyed one
// receives nothing while the block is still updated.
#include <windows.h>

#include <gtest/gtest.h>

#include "app/state.h"

namespace {

HWND MakeMessageWindow() {
    return CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr,
                           nullptr);
}

std::vector<UINT> DrainInstallMessages(HWND window) {
    std::vector<UINT> seen;
    MSG msg;
    while (PeekMessageW(&msg, window, WM_INSTALL_PROGRESS, WM_INSTALL_STAGE, PM_REMOVE))
        seen.push_back(msg.message);
    return seen;
}

TEST(StateProtocolWindows, ALiveWindowReceivesProgressThenStage) {
    HWND window = MakeMessageWindow();
    ASSERT_NE(window, nullptr);
    InstallerState s;
    s.window = reinterpret_cast<WindowHandle>(window);
    InstallProgress p;
    p.stage = InstallStage::Installing;
    PublishProgress(s, p, false);
    FailInstall(s, u"x");
    EXPECT_EQ(DrainInstallMessages(window), (std::vector<UINT>{0x8001, 0x8002}));
    DestroyWindow(window);
}

TEST(StateProtocolWindows, ADestroyedWindowReceivesNothingButTheBlockChanges) {
    HWND window = MakeMessageWindow();
    ASSERT_NE(window, nullptr);
    InstallerState s;
    s.window = reinterpret_cast<WindowHandle>(window);
    DestroyWindow(window);
    InstallProgress p;
    p.stage = InstallStage::Done;
    PublishProgress(s, p, true);
    EXPECT_EQ(GetStage(s), InstallStage::Done);
    MSG msg;
    EXPECT_FALSE(PeekMessageW(&msg, nullptr, WM_INSTALL_PROGRESS, WM_INSTALL_STAGE, PM_REMOVE));
}

}  // namespace
