#include "app/window_win.h"

#include <dwmapi.h>

#include <cmath>

#include "app/state.h"
#include "ui/paint_win.h"

InstallerState* StateOf(HWND window) {
    return reinterpret_cast<InstallerState*>(GetWindowLongPtrW(window, GWLP_USERDATA));
}

LRESULT CALLBACK InstallerWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_NCCREATE: {
            const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lParam);
            SetWindowLongPtrW(window, GWLP_USERDATA,
                              reinterpret_cast<LONG_PTR>(create->lpCreateParams));
            return DefWindowProcW(window, message, wParam, lParam);
        }
        case WM_ERASEBKGND:
            return 1;
        case WM_PAINT: {
            PAINTSTRUCT ps;
            HDC dc = BeginPaint(window, &ps);
            if (InstallerState* state = StateOf(window)) PaintWindow(*state, window, dc);
            EndPaint(window, &ps);
            return 0;
        }
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
    wc.hInstance = instance;
    wc.hIcon = large;
    wc.hIconSm = small;
    wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    wc.lpszClassName = kWindowClassName;
    RegisterClassExW(&wc);
}

int ScreenDpi() {
    HDC dc = GetDC(nullptr);
    if (!dc) return 96;
    const int dpi = GetDeviceCaps(dc, LOGPIXELSX);
    ReleaseDC(nullptr, dc);
    return dpi;
}

}  // namespace

int RunWindowMode(InstallerState& state) {
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
    if (!window) return 1;
    state.window = reinterpret_cast<WindowHandle>(window);

    const DWORD corner = 2;  // DWMWCP_ROUND
    DwmSetWindowAttribute(window, 33 /* DWMWA_WINDOW_CORNER_PREFERENCE */, &corner, sizeof(corner));
    const MARGINS margins{1, 1, 1, 1};
    DwmExtendFrameIntoClientArea(window, &margins);
    SetTimer(window, kAnimationTimerId, kAnimationTimerMs, nullptr);
    ShowWindow(window, SW_SHOW);
    UpdateWindow(window);

    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    return 0;
}
