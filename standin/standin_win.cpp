// A stand-in for the real client, published by the demo and the tests. Each start is appended as
// one JSON line (time, working folder, arguments) to the file named by VARNOK_STANDIN_LOG, or to
// "standin-launches.log" beside the executable. It then exits, or, with --show-window (or
// VARNOK_STANDIN_SHOW_WINDOW=1), shows a small window until it is closed.
#include <windows.h>
#include <shellapi.h>

#include <string>
#include <vector>

namespace {

std::string ToUtf8(const std::wstring& w) {
    if (w.empty()) return {};
    const int n = WideCharToMultiByte(CP_UTF8, 0, w.data(), static_cast<int>(w.size()), nullptr, 0,
                                      nullptr, nullptr);
    std::string out(static_cast<size_t>(n > 0 ? n : 0), '\0');
    if (n > 0)
        WideCharToMultiByte(CP_UTF8, 0, w.data(), static_cast<int>(w.size()), out.data(), n,
                            nullptr, nullptr);
    return out;
}

std::string JsonString(const std::wstring& w) {
    std::string out = "\"";
    for (unsigned char c : ToUtf8(w)) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20) {
            char buf[8];
            wsprintfA(buf, "\\u%04x", c);
            out += buf;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out + "\"";
}

std::wstring LogPath() {
    wchar_t buf[32768];
    DWORD n = GetEnvironmentVariableW(L"VARNOK_STANDIN_LOG", buf, 32768);
    if (n > 0 && n < 32768) return std::wstring(buf, n);
    n = GetModuleFileNameW(nullptr, buf, 32768);
    std::wstring path(buf, n);
    const size_t slash = path.find_last_of(L"\\/");
    return (slash == std::wstring::npos ? std::wstring() : path.substr(0, slash + 1)) +
           L"standin-launches.log";
}

void RecordStart(const std::vector<std::wstring>& args) {
    wchar_t cwd[32768];
    const DWORD cwdLen = GetCurrentDirectoryW(32768, cwd);
    SYSTEMTIME t;
    GetSystemTime(&t);
    char stamp[64];
    wsprintfA(stamp, "%04u-%02u-%02uT%02u:%02u:%02u.%03uZ", t.wYear, t.wMonth, t.wDay, t.wHour,
              t.wMinute, t.wSecond, t.wMilliseconds);
    std::string line = std::string("{\"time\":\"") + stamp +
                       "\",\"cwd\":" + JsonString(std::wstring(cwd, cwdLen)) + ",\"args\":[";
    for (size_t i = 1; i < args.size(); ++i) {
        if (i > 1) line += ",";
        line += JsonString(args[i]);
    }
    line += "]}\n";
    HANDLE f = CreateFileW(LogPath().c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                           nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (f == INVALID_HANDLE_VALUE) return;
    DWORD written = 0;
    WriteFile(f, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
    CloseHandle(f);
}

LRESULT CALLBACK StandInProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_DESTROY) {
        PostQuitMessage(0);
        return 0;
    }
    if (message == WM_PAINT) {
        PAINTSTRUCT ps;
        HDC dc = BeginPaint(window, &ps);
        RECT rc;
        GetClientRect(window, &rc);
        DrawTextW(dc, L"Varnok Client (stand-in)", -1, &rc, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
        EndPaint(window, &ps);
        return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

int ShowWindowUntilClosed(HINSTANCE instance) {
    WNDCLASSW wc{};
    wc.lpfnWndProc = StandInProc;
    wc.hInstance = instance;
    wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    wc.lpszClassName = L"VarnokStandInClient";
    RegisterClassW(&wc);
    HWND window =
        CreateWindowW(wc.lpszClassName, L"Varnok Client (stand-in)", WS_OVERLAPPEDWINDOW,
                      CW_USEDEFAULT, CW_USEDEFAULT, 360, 160, nullptr, nullptr, instance, nullptr);
    if (!window) return 1;
    ShowWindow(window, SW_SHOWNORMAL);
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    return 0;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
    int count = 0;
    wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &count);
    std::vector<std::wstring> args;
    for (int i = 0; argv && i < count; ++i) args.emplace_back(argv[i]);
    if (argv) LocalFree(argv);
    RecordStart(args);

    bool show = false;
    for (size_t i = 1; i < args.size(); ++i) show = show || args[i] == L"--show-window";
    wchar_t flag[8];
    const DWORD n = GetEnvironmentVariableW(L"VARNOK_STANDIN_SHOW_WINDOW", flag, 8);
    show = show || (n == 1 && flag[0] == L'1');
    return show ? ShowWindowUntilClosed(instance) : 0;
}
