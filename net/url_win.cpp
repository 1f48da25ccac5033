#include "net/url.h"

#include <windows.h>

#include "common/system_libraries_win.h"
#include "common/text.h"
#include "common/text_win.h"

namespace {
constexpr DWORD kHostUnits = 256;   // 255 units and the terminator
constexpr DWORD kPathUnits = 2048;  // 2047 units and the terminator
}  // namespace

bool SplitUrl(std::string_view url, UrlParts& parts) {
    std::u16string wide = Utf8ToUtf16(url);
    if (wide.empty()) return false;
    // The fragment is for the reader of a page and must never reach the server; WinHTTP would
    // otherwise keep it in the path and send it.
    if (const size_t hash = wide.find(u'#'); hash != std::u16string::npos) wide.resize(hash);

    wchar_t host[kHostUnits] = {};
    wchar_t path[kPathUnits] = {};
    URL_COMPONENTS components = {};
    components.dwStructSize = sizeof(components);
    components.lpszHostName = host;
    components.dwHostNameLength = kHostUnits;
    components.lpszUrlPath = path;
    components.dwUrlPathLength = kPathUnits;
    if (!syslib::WinHttpCrackUrl(WView(wide).data(), static_cast<DWORD>(wide.size()), 0,
                                 &components)) {
        return false;
    }
    if (components.nScheme != INTERNET_SCHEME_HTTP && components.nScheme != INTERNET_SCHEME_HTTPS) {
        return false;
    }
    parts.secure = components.nScheme == INTERNET_SCHEME_HTTPS;
    parts.host = FromWide(std::wstring_view(host, components.dwHostNameLength));
    parts.port = components.nPort;
    parts.path = FromWide(std::wstring_view(path, components.dwUrlPathLength));
    if (parts.path.empty()) parts.path = u"/";
    return !parts.host.empty();
}
