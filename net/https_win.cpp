#include "net/https.h"

#include <memory>

#include "net/body_read_win.h"

namespace {

// The body into memory, refused as soon as a batch would take it past the limit.
struct MemoryDestination {
    std::string& body;
    uint64_t byteLimit;

    bool Batch(uint64_t available, Failure& failure) {
        if (body.size() + available <= byteLimit) return true;
        SetFailure(failure, "response_too_large");
        return false;
    }
    bool Chunk(const char* data, size_t size, Failure&) {
        body.append(data, size);
        return true;
    }
};

constexpr DWORD kFetchChunkBytes = 65536;

}  // namespace

bool HttpsGetToMemory(std::string_view url, uint64_t byteLimit, std::string& body, Failure& failure,
                      const HttpTimeouts& timeouts) {
    body.clear();
    UrlParts parts;
    if (!SplitUrl(url, parts)) {
        SetFailure(failure, "invalid_url");
        return false;
    }
    HttpGet get;
    switch (OpenHttpGet(parts, get)) {
        case OpenStep::session:
            SetFailure(failure, "winhttp_open", GetLastError());
            return false;
        case OpenStep::connection:
            SetFailure(failure, "connect_failed", GetLastError());
            return false;
        case OpenStep::request:
            SetFailure(failure, "request_failed", GetLastError());
            return false;
        case OpenStep::done:
            break;
    }
    ConfigureHttpGet(get.request.get(), timeouts);
    FetchDeadline deadline;
    deadline.overallMs = timeouts.overallMs;
    deadline.receiveMs = timeouts.receiveMs;
    if (!deadline.LimitNextWait(get.request.get())) {
        SetFailure(failure, "fetch_timed_out", ERROR_WINHTTP_TIMEOUT);
        return false;
    }
    if (!SendHttpGet(get.request.get())) {
        const DWORD error = GetLastError();
        SetFailure(failure, deadline.cut ? "fetch_timed_out" : "network_unreachable", error);
        return false;
    }
    if (const uint32_t status = QueryHttpStatus(get.request.get()); status != 200) {
        SetFailure(failure, "http_" + std::to_string(status), status, FailureNumber::Http);
        return false;
    }
    const auto buffer = std::make_unique<char[]>(kFetchChunkBytes);
    MemoryDestination destination{body, byteLimit};
    return ReadResponseBody(get.request.get(), buffer.get(), kFetchChunkBytes, &deadline,
                            destination, failure);
}
