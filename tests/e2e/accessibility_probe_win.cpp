// Reads the installer window the way a screen reader does, from another process: the window's
// object through AccessibleObjectFromWindow, then every child's name, role, state, value and
// default action, one tab-separated line each, and the focused child. With "press <name>" it
// runs that child's default action instead.
// Usage: varnok_accessibility_probe read | press <name>
// Exit codes: 0 done, 3 the window or its object could not be reached (the message says which
// call failed), 4 no child of that name, 64 wrong arguments.
#include <windows.h>
#include <oleacc.h>

#include <cstdio>
#include <string>

#include "app/window_win.h"
#include "common/handles_win.h"
#include "common/text.h"
#include "common/text_win.h"

namespace {

VARIANT Child(long id) {
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_I4;
    v.lVal = id;
    return v;
}

std::string Utf8(HRESULT hr, BSTR text) {
    std::string out;
    if (SUCCEEDED(hr) && text) out = Utf16ToUtf8(reinterpret_cast<const char16_t*>(text));
    SysFreeString(text);
    return out;
}

long LongOf(HRESULT hr, const VARIANT& v) {
    return SUCCEEDED(hr) && v.vt == VT_I4 ? v.lVal : -1;
}

int Fail(const char* call, HRESULT hr) {
    std::printf("error\t%s\t0x%08lx\n", call, static_cast<unsigned long>(hr));
    return 3;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    const std::wstring mode = argc >= 2 ? argv[1] : L"";
    if (!(mode == L"read" && argc == 2) && !(mode == L"press" && argc == 3)) return 64;
    UniqueComApartment com = EnterComApartment();
    HWND window = FindWindowW(kWindowClassName, nullptr);
    if (!window) return Fail("FindWindowW", E_FAIL);
    IAccessible* raw = nullptr;
    HRESULT hr = AccessibleObjectFromWindow(window, OBJID_CLIENT, __uuidof(IAccessible),
                                            reinterpret_cast<void**>(&raw));
    if (FAILED(hr) || !raw) return Fail("AccessibleObjectFromWindow", hr);
    ComPtr<IAccessible> object(raw);
    long count = 0;
    hr = object.get()->get_accChildCount(&count);
    if (FAILED(hr)) return Fail("get_accChildCount", hr);

    for (long id = 1; id <= count; ++id) {
        const VARIANT child = Child(id);
        BSTR text = nullptr;
        hr = object.get()->get_accName(child, &text);
        const std::string name = Utf8(hr, text);
        if (mode == L"press") {
            if (name != Utf16ToUtf8(FromWide(argv[2]))) continue;
            hr = object.get()->accDoDefaultAction(child);
            if (FAILED(hr)) return Fail("accDoDefaultAction", hr);
            std::printf("pressed\t%ld\n", id);
            return 0;
        }
        text = nullptr;
        hr = object.get()->get_accValue(child, &text);
        const std::string value = Utf8(hr, text);
        text = nullptr;
        hr = object.get()->get_accDefaultAction(child, &text);
        const std::string action = Utf8(hr, text);
        VARIANT role;
        VariantInit(&role);
        const long roleId = LongOf(object.get()->get_accRole(child, &role), role);
        VARIANT state;
        VariantInit(&state);
        const long stateBits = LongOf(object.get()->get_accState(child, &state), state);
        std::printf("child\t%ld\t%ld\t0x%lx\t%s\t%s\t%s\n", id, roleId,
                    static_cast<unsigned long>(stateBits), name.c_str(), value.c_str(),
                    action.c_str());
    }
    if (mode == L"press") return 4;
    VARIANT focus;
    VariantInit(&focus);
    hr = object.get()->get_accFocus(&focus);
    std::printf("focus\t%ld\n", hr == S_OK && focus.vt == VT_I4 ? focus.lVal : -1);
    return 0;
}
