#include "net/https.h"

#include <algorithm>

#include "net/winhttp_request_win.h"

namespace {

// The overall bound of one fetch: before each wait for the server, the receive time-outs are cut
// to what is left of it, so no wait can outlast it.
struct FetchDeadline {
    ULONGLONG start = GetTickCount64();
    int overallMs = 0;
    int receiveMs = 0;
    bool cut = false;  // the last wait was cut short by the overall bound

    // False when nothing is left.
    bool LimitNextWait(HINTERNET request) {
        if (overallMs <= 0) return true;
        const ULONGLONG spent = GetTickCount64() - start;
        if (spent >= static_cast<ULONGLONG>(overallMs)) return false;
        const auto left = static_cast<DWORD>(static_cast<ULONGLONG>(overallMs) - spent);
        cut = left < static_cast<DWORD>(receiveMs);
        DWORD wait = std::min(left, static_cast<DWORD>(receiveMs));
        WinHttpSetOption(request, WINHTTP_OPTION_RECEIVE_TIMEOUT, &wait, sizeof(wait));
        WinHttpSetOption(request, WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT, &wait, sizeof(wait));
        return true;
    }
};

}  // namespace

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
    FetchDeadline deadline;
    deadline.overallMs = timeouts.overallMs;
    deadline.receiveMs = timeouts.receiveMs;
    if (!deadline.LimitNextWait(get.request.get())) {
        error = "fetch_timed_out";
        return false;
    }
    if (!SendHttpGet(get.request.get())) {
        error = deadline.cut ? "fetch_timed_out" : "network_unreachable";
        return false;
    }
    if (const uint32_t status = QueryHttpStatus(get.request.get()); status != 200) {
        error = "http_" + std::to_string(status);
        return false;
    }
    for (;;) {
        if (!deadline.LimitNextWait(get.request.get())) {
            error = "fetch_timed_out";
            return false;
        }
        DWORD available = 0;
        // A failed query is taken as the end of the body; a short body fails the caller's checks.
        // One that failed because the overall bound ran out is the fetch's own failure.
        if (!WinHttpQueryDataAvailable(get.request.get(), &available)) {
            if (!deadline.cut) return true;
            error = "fetch_timed_out";
            return false;
        }
        if (available == 0) return true;
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
