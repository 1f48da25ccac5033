// Where the installer's start-up time goes: the entry point's steps in its order, through the
// same functions, each printed as milliseconds since the process was created, up to the end of
// the first WM_PAINT. The window procedure is the installer's own, wrapped only to see that paint
// end. Run by scripts/bench; prints one key=value line.
#include <windows.h>
#include <objbase.h>
#include <objidl.h>
#include <gdiplus.h>

#include <cstdio>
#include <memory>

#include "app/state.h"
#include "app/window_win.h"
#include "bench/process_clock_win.h"
#include "common/system_libraries_win.h"
#include "ui/assets.h"

namespace {

WNDPROC g_installerProc = nullptr;
double g_paintStart = 0;
double g_paintEnd = 0;

LRESULT CALLBACK SeeFirstPaint(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message != WM_PAINT || g_paintEnd != 0)
        return CallWindowProcW(g_installerProc, window, message, wParam, lParam);
    g_paintStart = MsSinceProcessCreation();
    const LRESULT result = CallWindowProcW(g_installerProc, window, message, wParam, lParam);
    g_paintEnd = MsSinceProcessCreation();
    DestroyWindow(window);
    return result;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
    const double entry = MsSinceProcessCreation();
    RestrictLibrarySearchToSystemFolder();
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    const double com = MsSinceProcessCreation();
    ULONG_PTR token = 0;
    Gdiplus::GdiplusStartupInput input;
    if (Gdiplus::GdiplusStartup(&token, &input, nullptr) != Gdiplus::Ok) return 1;
    const double gdiplus = MsSinceProcessCreation();
    auto state = std::make_unique<InstallerState>();
    state->instance = reinterpret_cast<InstanceHandle>(instance);
    LoadInstallerAssets(*state);
    const double assets = MsSinceProcessCreation();
    HWND window = CreateInstallerWindow(*state);
    if (!window) return 1;
    const double created = MsSinceProcessCreation();
    g_installerProc = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrW(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(SeeFirstPaint)));
    ShowWindow(window, SW_SHOW);
    const double shown = MsSinceProcessCreation();
    UpdateWindow(window);
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    std::printf(
        "entry=%.1f com=%.1f gdiplus=%.1f assets=%.1f window_created=%.1f shown=%.1f "
        "paint_start=%.1f paint_end=%.1f\n",
        entry, com, gdiplus, assets, created, shown, g_paintStart, g_paintEnd);
    std::fflush(stdout);
    state->logo.reset();
    Gdiplus::GdiplusShutdown(token);
    CoUninitialize();
    return 0;
}
