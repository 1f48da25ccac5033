// Views between the portable UTF-16 type and the wchar_t that Windows calls take.
#pragma once

#include <string>
#include <string_view>

static_assert(sizeof(wchar_t) == sizeof(char16_t), "Windows wchar_t is UTF-16");

inline const wchar_t* Wz(const std::u16string& s) {
    return reinterpret_cast<const wchar_t*>(s.c_str());
}
inline std::wstring_view WView(std::u16string_view s) {
    return {reinterpret_cast<const wchar_t*>(s.data()), s.size()};
}
inline std::u16string FromWide(std::wstring_view s) {
    return {reinterpret_cast<const char16_t*>(s.data()), s.size()};
}
inline std::u16string FromWide(const wchar_t* s) {
    return s ? FromWide(std::wstring_view(s)) : std::u16string();
}
