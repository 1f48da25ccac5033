// The streamed download of the client executable: written to a file and hashed chunk by chunk,
// held to the announced size and digest, with a cancel flag and rate-limited progress.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "net/https.h"
#include "net/progress.h"

enum class DownloadOutcome {
    UrlRejected,   // the URL did not split; nothing was opened
    NoConnection,  // a WinHTTP session, connection or request handle could not be created (the
                   // failure holds the call's error number)
    Transferred,   // the request was set up; the result code says how the transfer ended
};

using DownloadProgressSink = std::function<void(const DownloadProgress&)>;

inline constexpr size_t kDownloadBufferBytes = 65536;

// Writes the body of `url` to `destination` (created or emptied). `result.code` is set with
// Transferred: empty for exactly `expectedSize` bytes whose SHA-256 is `expectedSha256`, else
// "cancelled", "network_error", "http_<status>", "read_failed", "size_exceeded",
// "disk_or_hash_error", "size_mismatch" or "sha256_mismatch", with the system's number behind
// it where a call failed (WinHTTP or file error, or the status). The file is left on disk in
// every case; removing it is the caller's task. `progress` is called on this thread.
DownloadOutcome DownloadFile(std::string_view url, const std::u16string& destination,
                             uint64_t expectedSize, std::string_view expectedSha256,
                             const std::atomic<bool>& cancel, const DownloadProgressSink& progress,
                             Failure& result, const HttpTimeouts& timeouts = kDownloadTimeouts);
