// Puts a failure report on the clipboard as Unicode text. Windows-only.
#pragma once

#include <windows.h>

#include <string_view>

bool CopyFailureReport(HWND window, std::u16string_view text);
