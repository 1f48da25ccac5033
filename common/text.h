// UTF-8 <-> UTF-16 with the system's rules: invalid UTF-8 becomes U+FFFD, a lone surrogate
// becomes U+FFFD, and an empty or failed conversion gives empty text. Portable code keeps UTF-16
// in std::u16string; Windows code views it as wchar_t through the helpers in text_win.h.
#pragma once

#include <string>
#include <string_view>

std::u16string Utf8ToUtf16(std::string_view text);
std::string Utf16ToUtf8(std::u16string_view text);

// ASCII-only case folding, for rules that must not depend on the locale.
char AsciiLower(char c);
std::string AsciiLowerCopy(std::string_view text);
