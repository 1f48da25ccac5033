#include "net/winhttp_request_win.h"

#include "common/text_win.h"

decltype(&WinHttpOpen) g_winHttpOpen = &syslib::WinHttpOpen;
decltype(&WinHttpConnect) g_winHttpConnect = &syslib::WinHttpConnect;
decltype(&WinHttpOpenRequest) g_winHttpOpenRequest = &syslib::WinHttpOpenRequest;
decltype(&WinHttpQueryHeaders) g_winHttpQueryHeaders = &syslib::WinHttpQueryHeaders;
decltype(&WinHttpReadData) g_winHttpReadData = &syslib::WinHttpReadData;

OpenStep OpenHttpGet(const UrlParts& url, HttpGet& get) {
    get.session.reset(g_winHttpOpen(kUserAgent, WINHTTP_ACCESS_TYPE_DEFAULT_PROXY,
                                    WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0));
    if (!get.session) return OpenStep::session;
    get.connection.reset(g_winHttpConnect(get.session.get(), Wz(url.host), url.port, 0));
    if (!get.connection) return OpenStep::connection;
    get.request.reset(g_winHttpOpenRequest(get.connection.get(), L"GET", Wz(url.path), nullptr,
                                           WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES,
                                           url.secure ? WINHTTP_FLAG_SECURE : 0));
    if (!get.request) return OpenStep::request;
    return OpenStep::done;
}

void ConfigureHttpGet(HINTERNET request, const HttpTimeouts& timeouts) {
    DWORD disable = WINHTTP_DISABLE_REDIRECTS;
    syslib::WinHttpSetOption(request, WINHTTP_OPTION_DISABLE_FEATURE, &disable, sizeof(disable));
    syslib::WinHttpSetTimeouts(request, timeouts.resolveMs, timeouts.connectMs, timeouts.sendMs,
                               timeouts.receiveMs);
    // The receive time-out alone does not bound the wait for the response headers everywhere
    // (Wine leaves that wait unbounded), so a server that accepts and never answers would hang
    // the install; the same bound is set for it explicitly.
    DWORD headerWait = static_cast<DWORD>(timeouts.receiveMs);
    syslib::WinHttpSetOption(request, WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT, &headerWait,
                             sizeof(headerWait));
}

bool SendHttpGet(HINTERNET request) {
    if (!syslib::WinHttpSendRequest(request, WINHTTP_NO_ADDITIONAL_HEADERS, 0,
                                    WINHTTP_NO_REQUEST_DATA, 0, 0, 0)) {
        return false;
    }
    return syslib::WinHttpReceiveResponse(request, nullptr) != FALSE;
}

uint32_t QueryHttpStatus(HINTERNET request) {
    DWORD status = 0;
    DWORD size = sizeof(status);
    if (!g_winHttpQueryHeaders(request, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                               WINHTTP_HEADER_NAME_BY_INDEX, &status, &size,
                               WINHTTP_NO_HEADER_INDEX)) {
        return 0;
    }
    return status;
}
