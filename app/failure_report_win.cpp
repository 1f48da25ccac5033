#include <windows.h>

#include <cstring>

#include "app/failure_report.h"
#include "app/failure_report_win.h"
#include "common/handles_win.h"
#include "common/text_win.h"

namespace {

std::u16string SystemErrorText(uint32_t number) {
    // WinHTTP's numbers (12001 to 12185) are described in its own module, not the system's.
    HMODULE winhttp =
        number >= 12000 && number < 12200 ? GetModuleHandleW(L"winhttp.dll") : nullptr;
    const DWORD flags = FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS |
                        (winhttp ? FORMAT_MESSAGE_FROM_HMODULE : FORMAT_MESSAGE_FROM_SYSTEM);
    wchar_t* buffer = nullptr;
    const DWORD length =
        FormatMessageW(flags, winhttp, number, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
    const UniqueLocalMemory owner(buffer);
    std::u16string text = length ? FromWide(std::wstring_view(buffer, length)) : std::u16string();
    while (!text.empty() && (text.back() == u'\r' || text.back() == u'\n' || text.back() == u' '))
        text.pop_back();
    return text;
}

}  // namespace

SystemErrorTextFn g_systemErrorText = &SystemErrorText;

bool CopyFailureReport(HWND window, std::u16string_view text) {
    const size_t bytes = (text.size() + 1) * sizeof(char16_t);
    UniqueGlobalMemory memory(GlobalAlloc(GMEM_MOVEABLE, bytes));
    if (!memory) return false;
    void* target = GlobalLock(memory.get());
    if (!target) return false;
    std::memcpy(target, text.data(), text.size() * sizeof(char16_t));
    static_cast<char16_t*>(target)[text.size()] = u'\0';
    GlobalUnlock(memory.get());
    const UniqueClipboard clipboard = OpenClipboardFor(window);
    if (!clipboard || !EmptyClipboard()) return false;
    if (!SetClipboardData(CF_UNICODETEXT, memory.get())) return false;
    memory.release();  // the clipboard owns it now
    return true;
}
