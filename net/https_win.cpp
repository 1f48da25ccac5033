#include "net/https.h"

#include "net/winhttp_request_win.h"

bool HttpsGetToMemory(std::string_view url, uint64_t byteLimit, std::string& body,
                      std::string& error, const HttpTimeouts& timeouts) {
    body.clear();
    UrlParts parts;
    if (!SplitUrl(url, parts)) {
        error = "invalid_url";
        return false;
    }
    HttpGet get;
    switch (OpenHttpGet(parts, get)) {
        case OpenStep::session:
            error = "winhttp_open";
            return false;
        case OpenStep::connection:
            error = "connect_failed";
            return false;
        case OpenStep::request:
            error = "request_failed";
            return false;
        case OpenStep::done:
            break;
    }
    ConfigureHttpGet(get.request.get(), timeouts);
    if (!SendHttpGet(get.request.get())) {
        error = "network_unreachable";
        return false;
    }
    if (const uint32_t status = QueryHttpStatus(get.request.get()); status != 200) {
        error = "http_" + std::to_string(status);
        return false;
    }
    for (;;) {
        DWORD available = 0;
        // A failed query is taken as the end of the body; a short body fails the caller's checks.
        if (!WinHttpQueryDataAvailable(get.request.get(), &available) || available == 0)
            return true;
        if (body.size() + static_cast<uint64_t>(available) > byteLimit) {
            error = "response_too_large";
            return false;
        }
        const size_t oldSize = body.size();
        body.resize(oldSize + available);
        DWORD read = 0;
        const BOOL ok =
            g_winHttpReadData(get.request.get(), body.data() + oldSize, available, &read);
        body.resize(oldSize + (ok ? read : 0));
        if (!ok) {
            error = "read_failed";
            return false;
        }
    }
}
