// GET into memory under a byte limit, and the endpoints of the update server.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "common/failure.h"

// Where the update server answers, appended to the base URL as plain text.
inline constexpr std::string_view kManifestPath = "/api/updates/manifest";
inline constexpr uint64_t kManifestByteLimit = 0x80000;  // 524,288 bytes

// Milliseconds per phase of one request, and for a fetch into memory the bound on the whole of
// it (0: none): a server that sends a byte just inside every receive time-out would otherwise
// hold the fetch for as long as it likes. The download has no overall bound; it can be cancelled.
// The installer always uses the two fixed sets below; tests pass shorter ones so that a stalled
// server ends quickly.
struct HttpTimeouts {
    int resolveMs;
    int connectMs;
    int sendMs;
    int receiveMs;
    int overallMs;
};
inline constexpr HttpTimeouts kFetchTimeouts{5000, 8000, 10000, 20000, 120000};
inline constexpr HttpTimeouts kDownloadTimeouts{5000, 8000, 10000, 60000, 0};

// One GET whose whole body must fit in `byteLimit` bytes. `body` is cleared first. On failure
// `failure` holds one code ("invalid_url", "winhttp_open", "connect_failed", "request_failed",
// "network_unreachable", "http_<status>", "response_too_large", "read_failed",
// "fetch_timed_out" when the overall bound ran out) with the system's number behind it (the
// WinHTTP error, or the status), and `body` whatever had arrived; on success `failure` is left
// as the caller had it. Only exactly 200 is success; redirects are never followed. A body that
// simply stops early is not detected here: the caller's own checks (signature, size, digest)
// catch it.
bool HttpsGetToMemory(std::string_view url, uint64_t byteLimit, std::string& body, Failure& failure,
                      const HttpTimeouts& timeouts = kFetchTimeouts);
