#include "common/own_path.h"

#include <windows.h>

#include <algorithm>

std::u16string OwnExecutablePath() {
    constexpr DWORD kLongest = 32768;
    DWORD size = MAX_PATH;
    for (;;) {
        std::u16string buffer(size, u'\0');
        const DWORD length =
            GetModuleFileNameW(nullptr, reinterpret_cast<wchar_t*>(buffer.data()), size);
        if (length == 0) return {};
        if (length < size) {
            buffer.resize(length);
            return buffer;
        }
        // The path was cut to fit: try again with more room, up to the longest path there is.
        if (size >= kLongest) return {};
        size = std::min<DWORD>(size * 2, kLongest);
    }
}

OwnExecutablePathFn g_ownExecutablePath = &OwnExecutablePath;
