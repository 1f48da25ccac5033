#include "app/window_win.h"

#include <cmath>

#include "app/accessible_win.h"
#include "app/failure_report.h"
#include "app/failure_report_win.h"
#include "app/commands_win.h"
#include "app/focus.h"
#include "app/hit_test.h"
#include "app/state.h"
#include "common/handles_win.h"
#include "common/system_libraries_win.h"
#include "ui/paint_win.h"

namespace {

// The window's paint cache lives in its extra bytes, from WM_CREATE to WM_NCDESTROY: it holds
// GDI+ objects, so it must end with the window, before GDI+ shuts down.
PaintCache* PaintCacheOf(HWND window) {
    return reinterpret_cast<PaintCache*>(GetWindowLongPtrW(window, 0));
}

// Only these pixels changed: a hover, a press or the focus moving from one control to another.
void RepaintControls(InstallerState& state, HWND window, HitTarget a, HitTarget b) {
    const InstallStage stage = GetStage(state);
    for (const HitTarget target : {a, b}) {
        LayoutRect rect{};
        if (target == HitTarget::None || target == HitTarget::Caption) continue;
        if (!ControlRect(state, stage, target, &rect)) {
            Repaint(window);
            return;
        }
        const RECT area = ControlArea(rect, state.dpiScale);
        InvalidateRect(window, &area, FALSE);
    }
}

// A progress report or an animation tick changes only the progress of the Installing screen;
// any other screen is repainted whole (the paint itself notices a screen it did not paint last).
void RepaintProgress(InstallerState& state, HWND window) {
    if (GetStage(state) != InstallStage::Installing) {
        Repaint(window);
        return;
    }
    const RECT area = ProgressArea(state.dpiScale);
    InvalidateRect(window, &area, FALSE);
}

// Mouse coordinates are signed 16-bit words: a captured mouse left of or above the window gives
// negative values.
float LogicalX(const InstallerState& state, LPARAM lParam) {
    return static_cast<float>(static_cast<short>(LOWORD(lParam))) / state.dpiScale;
}
float LogicalY(const InstallerState& state, LPARAM lParam) {
    return static_cast<float>(static_cast<short>(HIWORD(lParam))) / state.dpiScale;
}

bool IsControl(HitTarget target) {
    return target != HitTarget::None && target != HitTarget::Caption;
}

HCURSOR CursorFor(HitTarget hover) {
    return LoadCursorW(nullptr, IsControl(hover) ? IDC_HAND : IDC_ARROW);
}

LRESULT OnNcHitTest(InstallerState& state, HWND window, LPARAM lParam) {
    POINT point{static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam))};
    ScreenToClient(window, &point);
    const HitTarget target = HitTest(state, static_cast<float>(point.x) / state.dpiScale,
                                     static_cast<float>(point.y) / state.dpiScale);
    return target == HitTarget::Caption ? HTCAPTION : HTCLIENT;
}

void OnMouseMove(InstallerState& state, HWND window, LPARAM lParam) {
    if (!state.mouseTracking) {
        TRACKMOUSEEVENT track{};
        track.cbSize = sizeof(track);
        track.dwFlags = TME_LEAVE;
        track.hwndTrack = window;
        track.dwHoverTime = 0;
        TrackMouseEvent(&track);
        state.mouseTracking = true;
    }
    const HitTarget target = HitTest(state, LogicalX(state, lParam), LogicalY(state, lParam));
    if (target != state.hoverTarget) {
        RepaintControls(state, window, state.hoverTarget, target);
        state.hoverTarget = target;
        // WM_SETCURSOR for this move came before the move itself and saw the old target; set the
        // new cursor now so it does not wait for the next move.
        SetCursor(CursorFor(target));
    }
}

void OnMouseLeave(InstallerState& state, HWND window) {
    state.mouseTracking = false;
    if (state.hoverTarget != HitTarget::None) {
        RepaintControls(state, window, state.hoverTarget, HitTarget::None);
        state.hoverTarget = HitTarget::None;
    }
}

void OnButtonDown(InstallerState& state, HWND window, LPARAM lParam) {
    const HitTarget target = HitTest(state, LogicalX(state, lParam), LogicalY(state, lParam));
    if (IsControl(target)) {
        state.pressedTarget = target;
        // A pressed control takes the focus, as the system's buttons do; the cue stays hidden
        // until the keyboard is used.
        const InstallStage stage = GetStage(state);
        const HitTarget focusedBefore = FocusedControl(state, stage);
        if (IsFocusable(stage, target)) {
            state.focusTarget = target;
            state.focusStage = stage;
        }
        SetCapture(window);
        RepaintControls(state, window, target, focusedBefore);
        return;
    }
    // The empty surface below the header drags the window like its caption does.
    ReleaseCapture();
    SendMessageW(window, WM_NCLBUTTONDOWN, HTCAPTION, 0);
}

void OnButtonUp(InstallerState& state, HWND window, LPARAM lParam) {
    if (GetCapture() == window) ReleaseCapture();
    const HitTarget target = HitTest(state, LogicalX(state, lParam), LogicalY(state, lParam));
    const HitTarget pressed = state.pressedTarget;
    state.pressedTarget = HitTarget::None;
    RepaintControls(state, window, pressed, HitTarget::None);
    // Only a release over the control that was pressed is a click.
    if (pressed != HitTarget::None && target == pressed) HandleCommand(state, pressed);
    AnnounceAccessibleChanges(state, window);
}

bool FocusKeyOf(WPARAM virtualKey, FocusKey* key) {
    switch (virtualKey) {
        case VK_TAB:
            *key = GetKeyState(VK_SHIFT) < 0 ? FocusKey::ShiftTab : FocusKey::Tab;
            return true;
        case VK_SPACE:
            *key = FocusKey::Space;
            return true;
        case VK_RETURN:
            *key = FocusKey::Enter;
            return true;
        case VK_ESCAPE:
            *key = FocusKey::Escape;
            return true;
    }
    return false;
}

// The keyboard is in use: show the focus cue. The system may already count the cue as shown
// (a window starts with it shown) and then sends no WM_UPDATEUISTATE, so the state is set here
// too.
void ShowFocusCue(InstallerState& state, HWND window) {
    if (state.focusVisible) return;
    SendMessageW(window, WM_CHANGEUISTATE, MAKEWPARAM(UIS_CLEAR, UISF_HIDEFOCUS), 0);
    state.focusVisible = true;
    Repaint(window);
}

// Ctrl+C on the Error screen copies the message and what lay behind it, as Ctrl+C does in a
// Windows message box, so a user can paste the reason into a support request.
bool OnCopyKey(InstallerState& state, HWND window, WPARAM wParam) {
    if (wParam != 'C' || GetKeyState(VK_CONTROL) >= 0) return false;
    const InstallProgress progress = SnapshotProgress(state);
    if (progress.stage != InstallStage::Error) return false;
    const std::u16string systemText = progress.failure.source == FailureNumber::Windows
                                          ? g_systemErrorText(progress.failure.number)
                                          : std::u16string();
    CopyFailureReport(window, FailureReportText(progress.errorText, progress.failure, systemText));
    return true;
}

bool OnKeyDown(InstallerState& state, HWND window, WPARAM wParam, LPARAM lParam) {
    if (OnCopyKey(state, window, wParam)) return true;
    FocusKey key;
    if (!FocusKeyOf(wParam, &key)) return false;
    // Bit 30: the key was already down. A held key moves the focus on, but activates only once,
    // so holding Enter never starts a second install.
    const bool repeat = (lParam & (LPARAM{1} << 30)) != 0;
    if (repeat && key != FocusKey::Tab && key != FocusKey::ShiftTab) return true;
    ShowFocusCue(state, window);
    const InstallStage stage = GetStage(state);
    const KeyOutcome outcome = OutcomeOfKey(stage, FocusedControl(state, stage), key);
    if (outcome.focus != HitTarget::None &&
        (outcome.focus != state.focusTarget || state.focusStage != stage)) {
        const HitTarget focusedBefore = FocusedControl(state, stage);
        state.focusTarget = outcome.focus;
        state.focusStage = stage;
        RepaintControls(state, window, focusedBefore, outcome.focus);
    }
    // The same path as a click: StartInstall, Cancel and Close behave exactly as with the mouse.
    if (outcome.command != HitTarget::None) HandleCommand(state, outcome.command);
    AnnounceAccessibleChanges(state, window);
    return true;
}

void OnUpdateUiState(InstallerState& state, HWND window, WPARAM wParam) {
    if (!(HIWORD(wParam) & UISF_HIDEFOCUS)) return;
    bool visible = state.focusVisible;
    if (LOWORD(wParam) == UIS_SET) visible = false;
    if (LOWORD(wParam) == UIS_CLEAR) visible = true;
    if (visible == state.focusVisible) return;
    state.focusVisible = visible;
    Repaint(window);
}

void OnAccessibleAction(InstallerState& state, HWND window, WPARAM wParam, LPARAM lParam) {
    // The screen may have changed since the reader asked: a Cancel meant for Installing must not
    // run as the Close that sits in its place on Done or Error. A window that stopped taking input
    // (a folder picker's loop runs this message too) takes no command either.
    const auto target = static_cast<HitTarget>(wParam);
    const InstallStage stage = GetStage(state);
    if (stage != static_cast<InstallStage>(lParam) || !IsWindowEnabled(window) ||
        !IsFocusable(stage, target))
        return;
    HandleCommand(state, target);
    AnnounceAccessibleChanges(state, window);
}

void OnDpiChanged(InstallerState& state, HWND window, WPARAM wParam, LPARAM lParam) {
    state.dpiScale = static_cast<float>(HIWORD(wParam)) / 96.0f;
    if (const auto* suggested = reinterpret_cast<const RECT*>(lParam)) {
        SetWindowPos(window, nullptr, suggested->left, suggested->top,
                     static_cast<int>(std::roundf(440.0f * state.dpiScale)),
                     static_cast<int>(std::roundf(336.0f * state.dpiScale)),
                     SWP_NOZORDER | SWP_NOACTIVATE);
    }
    Repaint(window);
}

void OnInstallStage(InstallerState& state, HWND window) {
    Repaint(window);
    AnnounceAccessibleChanges(state, window);
    if (GetStage(state) == InstallStage::Done && state.launchAfterInstall) {
        LaunchClient(state);
        DestroyWindow(window);
    }
}

}  // namespace

LRESULT CALLBACK InstallerWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE) {
        const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lParam);
        SetWindowLongPtrW(window, GWLP_USERDATA,
                          reinterpret_cast<LONG_PTR>(create->lpCreateParams));
        return DefWindowProcW(window, message, wParam, lParam);
    }
    InstallerState* state = StateOf(window);
    switch (message) {
        case WM_ERASEBKGND:
            return 1;
        case WM_CREATE:
            SetWindowLongPtrW(window, 0, reinterpret_cast<LONG_PTR>(new PaintCache));
            return 0;
        case WM_NCDESTROY:
            delete PaintCacheOf(window);
            SetWindowLongPtrW(window, 0, 0);
            return DefWindowProcW(window, message, wParam, lParam);
        case WM_PAINT: {
            PAINTSTRUCT ps;
            HDC dc = BeginPaint(window, &ps);
            PaintCache* cache = PaintCacheOf(window);
            if (state && cache) PaintWindow(*state, window, dc, ps.rcPaint, *cache);
            EndPaint(window, &ps);
            return 0;
        }
        case WM_NCHITTEST:
            return state ? OnNcHitTest(*state, window, lParam) : HTCLIENT;
        case WM_SETCURSOR:
            if (state && LOWORD(lParam) == HTCLIENT) {
                SetCursor(CursorFor(state->hoverTarget));
                return TRUE;
            }
            return DefWindowProcW(window, message, wParam, lParam);
        case WM_MOUSEMOVE:
            if (state) OnMouseMove(*state, window, lParam);
            return 0;
        case WM_MOUSELEAVE:
            if (state) OnMouseLeave(*state, window);
            return 0;
        case WM_LBUTTONDOWN:
            if (state) OnButtonDown(*state, window, lParam);
            return 0;
        case WM_LBUTTONUP:
            if (state) OnButtonUp(*state, window, lParam);
            return 0;
        case WM_TIMER:
            if (state && wParam == kAnimationTimerId &&
                GetStage(*state) == InstallStage::Installing) {
                state->animPhase += 0.025f;
                RepaintProgress(*state, window);
            }
            return 0;
        case WM_DPICHANGED:
            if (state) OnDpiChanged(*state, window, wParam, lParam);
            return 0;
        case WM_INSTALL_PROGRESS:
            if (state) RepaintProgress(*state, window);
            if (state) AnnounceAccessibleChanges(*state, window);
            return 0;
        case WM_KEYDOWN:
            if (state && OnKeyDown(*state, window, wParam, lParam)) return 0;
            return DefWindowProcW(window, message, wParam, lParam);
        case WM_UPDATEUISTATE:
            if (state) OnUpdateUiState(*state, window, wParam);
            return DefWindowProcW(window, message, wParam, lParam);
        case WM_GETOBJECT:
            return AnswerGetObject(window, wParam, lParam);
        case WM_ACCESSIBLE_ACTION:
            if (state) OnAccessibleAction(*state, window, wParam, lParam);
            return 0;
        case WM_INSTALL_STAGE:
            if (state) OnInstallStage(*state, window);
            return 0;
        case WM_DESTROY:
            KillTimer(window, kAnimationTimerId);
            PostQuitMessage(0);
            return 0;
        default:
            return DefWindowProcW(window, message, wParam, lParam);
    }
}

namespace {

void RegisterInstallerClass(HINSTANCE instance) {
    HICON large = static_cast<HICON>(LoadImageW(instance, MAKEINTRESOURCEW(1), IMAGE_ICON,
                                                GetSystemMetrics(SM_CXICON),
                                                GetSystemMetrics(SM_CYICON), LR_SHARED));
    if (!large) large = LoadIconW(instance, MAKEINTRESOURCEW(1));
    HICON small = static_cast<HICON>(LoadImageW(instance, MAKEINTRESOURCEW(1), IMAGE_ICON,
                                                GetSystemMetrics(SM_CXSMICON),
                                                GetSystemMetrics(SM_CYSMICON), LR_SHARED));
    if (!small) small = large;

    WNDCLASSEXW wc{};
    wc.cbSize = sizeof(wc);
    wc.style = CS_HREDRAW | CS_VREDRAW;
    wc.lpfnWndProc = InstallerWindowProc;
    wc.cbWndExtra = sizeof(PaintCache*);
    wc.hInstance = instance;
    wc.hIcon = large;
    wc.hIconSm = small;
    wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    wc.lpszClassName = kWindowClassName;
    RegisterClassExW(&wc);
}

int ScreenDpi() {
    const UniqueScreenDc dc(GetDC(nullptr));
    return dc ? GetDeviceCaps(dc.get(), LOGPIXELSX) : 96;
}

}  // namespace

HWND CreateInstallerWindow(InstallerState& state) {
    HINSTANCE instance = reinterpret_cast<HINSTANCE>(state.instance);
    RegisterInstallerClass(instance);

    state.dpiScale = static_cast<float>(ScreenDpi()) / 96.0f;
    const int width = static_cast<int>(std::roundf(440.0f * state.dpiScale));
    const int height = static_cast<int>(std::roundf(336.0f * state.dpiScale));
    RECT work{};
    SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
    const int x = work.left + (work.right - width - work.left) / 2;
    const int y = work.top + (work.bottom - height - work.top) / 2;

    HWND window = CreateWindowExW(WS_EX_APPWINDOW, kWindowClassName, kWindowTitle,
                                  WS_POPUP | WS_SYSMENU | WS_MINIMIZEBOX, x, y, width, height,
                                  nullptr, nullptr, instance, &state);
    if (!window) return nullptr;
    state.window = reinterpret_cast<WindowHandle>(window);

    // Both results are ignored: without DWM (or its library) the window keeps square corners.
    const DWORD corner = 2;  // DWMWCP_ROUND
    syslib::DwmSetWindowAttribute(window, 33 /* DWMWA_WINDOW_CORNER_PREFERENCE */, &corner,
                                  sizeof(corner));
    const MARGINS margins{1, 1, 1, 1};
    syslib::DwmExtendFrameIntoClientArea(window, &margins);
    SetTimer(window, kAnimationTimerId, kAnimationTimerMs, nullptr);
    // Readers are told about changes from here on; the first view is only recorded.
    AnnounceAccessibleChanges(state, window);
    return window;
}

int RunWindowMode(InstallerState& state) {
    HWND window = CreateInstallerWindow(state);
    if (!window) return 1;
    ShowWindow(window, SW_SHOW);
    UpdateWindow(window);

    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    return 0;
}
