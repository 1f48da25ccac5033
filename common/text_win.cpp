#include "common/text.h"

#include <windows.h>

#include <climits>

#include "common/text_win.h"

std::u16string Utf8ToUtf16(std::string_view text) {
    if (text.empty() || text.size() > INT_MAX) return {};
    const int n = static_cast<int>(text.size());
    int units = MultiByteToWideChar(CP_UTF8, 0, text.data(), n, nullptr, 0);
    if (units <= 0) return {};
    std::u16string out(static_cast<size_t>(units), u'\0');
    units = MultiByteToWideChar(CP_UTF8, 0, text.data(), n, reinterpret_cast<wchar_t*>(out.data()),
                                units);
    if (units <= 0) return {};
    out.resize(static_cast<size_t>(units));
    return out;
}

std::string Utf16ToUtf8(std::u16string_view text) {
    if (text.empty() || text.size() > INT_MAX) return {};
    const auto* src = reinterpret_cast<const wchar_t*>(text.data());
    const int n = static_cast<int>(text.size());
    int bytes = WideCharToMultiByte(CP_UTF8, 0, src, n, nullptr, 0, nullptr, nullptr);
    if (bytes <= 0) return {};
    std::string out(static_cast<size_t>(bytes), '\0');
    bytes = WideCharToMultiByte(CP_UTF8, 0, src, n, out.data(), bytes, nullptr, nullptr);
    if (bytes <= 0) return {};
    out.resize(static_cast<size_t>(bytes));
    return out;
}
