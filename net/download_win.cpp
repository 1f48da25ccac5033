#include "net/download.h"

#include <memory>

#include "common/files.h"
#include "manifest/sha256.h"
#include "net/body_read_win.h"

namespace {

// Flushes and closes the file; false (with the system's number) when any byte may not have
// reached the disk.
bool CloseOutput(FileOwner& out, uint32_t& error) {
    if (!out) return true;
    const bool flushed = FlushFile(out, error);
    out.reset();
    return flushed;
}

// The body into the file and the hash, held to the announced size, cancelled between batches,
// with rate-limited progress.
struct FileDestination {
    FileOwner& out;
    Sha256Hasher& hasher;
    uint64_t expectedSize;
    const std::atomic<bool>& cancel;
    const DownloadProgressSink& progress;
    int64_t startNs;
    int64_t lastReportNs;
    uint64_t received = 0;

    // After every wait for data, however it ended: a user who cancelled while the server
    // stalled is back on Ready when the time-out ends the wait, not told the download failed.
    bool Batch(uint64_t, Failure& failure) {
        if (!cancel.load()) return true;
        SetFailure(failure, "cancelled");
        return false;
    }
    bool Chunk(const char* data, size_t size, Failure& failure) {
        received += size;
        // The chunk that would cross the announced size is never written.
        if (received > expectedSize) {
            SetFailure(failure, "size_exceeded");
            return false;
        }
        // Every chunk is one write of its own, so a full disk shows at that chunk.
        uint32_t writeError = 0;
        if (!WriteToFile(out, data, size, writeError)) {
            SetFailure(failure, "disk_or_hash_error", writeError);
            return false;
        }
        if (!hasher.ready || !hasher.Update(data, size)) {
            SetFailure(failure, "disk_or_hash_error");
            return false;
        }
        const int64_t nowNs = g_monotonicNowNs();
        if (ProgressDue(lastReportNs, nowNs, received, expectedSize)) {
            if (progress) {
                progress(DownloadProgress{received, expectedSize,
                                          AverageBytesPerSecond(received, startNs, nowNs)});
            }
            lastReportNs = nowNs;
        }
        return true;
    }
};

// The transfer once the response is 200.
void TransferBody(HINTERNET request, FileDestination& destination, std::string_view expectedSha256,
                  Failure& result) {
    const auto buffer = std::make_unique<char[]>(kDownloadBufferBytes);
    if (!ReadResponseBody(request, buffer.get(), kDownloadBufferBytes, nullptr, destination,
                          result))
        return;
    // Bytes that were received but could not be flushed would leave a short file behind a
    // success, so a failed flush or close is a disk error.
    uint32_t flushError = 0;
    if (!CloseOutput(destination.out, flushError))
        return SetFailure(result, "disk_or_hash_error", flushError);
    if (destination.received != destination.expectedSize)
        return SetFailure(result, "size_mismatch");
    const std::string digest = destination.hasher.FinishHex();
    if (digest.empty() || digest != expectedSha256) return SetFailure(result, "sha256_mismatch");
    SetFailure(result, {});
}

}  // namespace

DownloadOutcome DownloadFile(std::string_view url, const std::u16string& destination,
                             uint64_t expectedSize, std::string_view expectedSha256,
                             const std::atomic<bool>& cancel, const DownloadProgressSink& progress,
                             Failure& result, const HttpTimeouts& timeouts) {
    UrlParts parts;
    if (!SplitUrl(url, parts)) {
        SetFailure(result, "invalid_url");
        return DownloadOutcome::UrlRejected;
    }
    // Declared before the handles so that it closes after them.
    Sha256Hasher hasher;
    HttpGet get;
    if (OpenHttpGet(parts, get) != OpenStep::done) {
        SetFailure(result, "no_connection", GetLastError());
        return DownloadOutcome::NoConnection;
    }
    ConfigureHttpGet(get.request.get(), timeouts);

    hasher.Open();
    uint32_t openError = 0;
    FileOwner out = CreateFileForWriting(destination, openError);
    const int64_t startNs = g_monotonicNowNs();

    if (!out) {
        SetFailure(result, "network_error", openError);
    } else if (!hasher.ready) {
        SetFailure(result, "network_error");
    } else if (!SendHttpGet(get.request.get())) {
        // The wait for the response headers ends by time-out on a silent server; a cancel raised
        // meanwhile is what the user asked for.
        const DWORD error = GetLastError();
        if (cancel.load())
            SetFailure(result, "cancelled");
        else
            SetFailure(result, "network_error", error);
    } else if (const uint32_t status = QueryHttpStatus(get.request.get()); status != 200) {
        SetFailure(result, "http_" + std::to_string(status), status, FailureNumber::Http);
    } else {
        FileDestination sink{out, hasher, expectedSize, cancel, progress, startNs, startNs};
        TransferBody(get.request.get(), sink, expectedSha256, result);
    }
    uint32_t ignored = 0;
    CloseOutput(out, ignored);
    // Leaving closes the request, the connection and the session, then the hasher.
    return DownloadOutcome::Transferred;
}
