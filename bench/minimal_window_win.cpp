// The least a Win32 program does to put a painted window on the screen: register a class, create
// a 440 by 336 window centred in the work area, fill it with one colour at the first WM_PAINT.
// scripts/bench times it from outside exactly as it times the installer, as the floor for the
// installer's start-up. It also prints, at the end of its first paint, the milliseconds since its
// own process was created, beside the same figure of the installer's steps; given any argument it
// then ends.
#include <windows.h>

#include <cstdio>

#include "bench/process_clock_win.h"

namespace {

bool g_painted = false;
bool g_exitAfterPaint = false;  // any argument: end after the first paint

LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_ERASEBKGND:
            return 1;
        case WM_PAINT: {
            PAINTSTRUCT ps;
            HDC dc = BeginPaint(window, &ps);
            RECT client;
            GetClientRect(window, &client);
            // One flat colour, the one the timing script waits for.
            HBRUSH brush = CreateSolidBrush(RGB(0x1B, 0x1F, 0x26));
            FillRect(dc, &client, brush);
            DeleteObject(brush);
            EndPaint(window, &ps);
            if (!g_painted) {
                g_painted = true;
                std::printf("first_paint_ms_since_process_creation=%.1f\n",
                            MsSinceProcessCreation());
                std::fflush(stdout);
                if (g_exitAfterPaint) DestroyWindow(window);
            }
            return 0;
        }
        case WM_DESTROY:
            PostQuitMessage(0);
            return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR commandLine, int) {
    g_exitAfterPaint = commandLine != nullptr && commandLine[0] != L'\0';
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof(wc);
    wc.style = CS_HREDRAW | CS_VREDRAW;
    wc.lpfnWndProc = WindowProc;
    wc.hInstance = instance;
    wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    wc.lpszClassName = L"VarnokMinimalWindow";
    RegisterClassExW(&wc);
    RECT work{};
    SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
    const int x = work.left + (work.right - 440 - work.left) / 2;
    const int y = work.top + (work.bottom - 336 - work.top) / 2;
    HWND window =
        CreateWindowExW(WS_EX_APPWINDOW, wc.lpszClassName, L"Varnok Minimal Window",
                        WS_POPUP | WS_SYSMENU, x, y, 440, 336, nullptr, nullptr, instance, nullptr);
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
