// The request set-up that the fetch and the download share: one GET with the installer's user
// agent, the system's default proxy, no redirects and bounded waits. Windows-only.
#pragma once

#include <cstdint>

#include "common/handles_win.h"
#include "net/https.h"
#include "net/url.h"

inline constexpr const wchar_t* kUserAgent = L"VarnokClientSetup/1.0";

// The WinHTTP calls whose failure the code must handle but a healthy server never causes; tests
// swap in failing versions with ScopedOverride.
extern decltype(&WinHttpOpen) g_winHttpOpen;
extern decltype(&WinHttpConnect) g_winHttpConnect;
extern decltype(&WinHttpOpenRequest) g_winHttpOpenRequest;
extern decltype(&WinHttpQueryHeaders) g_winHttpQueryHeaders;
extern decltype(&WinHttpReadData) g_winHttpReadData;

// Member order makes destruction close the request, then the connection, then the session.
struct HttpGet {
    UniqueInternet session;
    UniqueInternet connection;
    UniqueInternet request;
};

enum class OpenStep { done, session, connection, request };

// Opens the three handles in order and stops at the first that cannot be created; handles
// already obtained are closed by the caller's HttpGet going out of scope. On failure
// GetLastError still holds the failing call's error when this returns.
OpenStep OpenHttpGet(const UrlParts& url, HttpGet& get);

// Redirects off and the time-outs; results ignored, as a refused option only loosens a bound.
void ConfigureHttpGet(HINTERNET request, const HttpTimeouts& timeouts);

// Sends the request and waits for the response headers. On failure GetLastError still holds the
// failing call's error (12029 refused, 12175 certificate, 12002 time-out...) when this returns.
bool SendHttpGet(HINTERNET request);

// The numeric status, 0 when it cannot be read.
uint32_t QueryHttpStatus(HINTERNET request);
