#include "net/download.h"

#include <memory>

#include "common/files.h"
#include "manifest/sha256.h"
#include "net/winhttp_request_win.h"

namespace {

// Flushes and closes the file; false when any byte may not have reached the disk.
bool CloseOutput(FileOwner& out) {
    if (!out) return true;
    uint32_t error = 0;
    const bool flushed = FlushFile(out, error);
    out.reset();
    return flushed;
}

// The transfer once the response is 200: the body goes to `out` and `hasher` chunk by chunk.
std::string TransferBody(HINTERNET request, FileOwner& out, Sha256Hasher& hasher,
                         uint64_t expectedSize, std::string_view expectedSha256,
                         const std::atomic<bool>& cancel, const DownloadProgressSink& progress,
                         int64_t startNs) {
    const auto buffer = std::make_unique<char[]>(kDownloadBufferBytes);
    uint64_t received = 0;
    int64_t lastReportNs = startNs;
    for (;;) {
        DWORD available = 0;
        // A failed query is the end of the body like an empty one; the size check below catches
        // a body that stopped early.
        const bool more = WinHttpQueryDataAvailable(request, &available) && available != 0;
        // The flag is read after every wait for data, however the wait ended: a user who
        // cancelled while the server stalled is back on Ready when the time-out ends the wait,
        // not told that the download failed.
        if (cancel.load()) return "cancelled";
        if (!more) break;
        while (available != 0) {
            const DWORD want = available < kDownloadBufferBytes ? available : kDownloadBufferBytes;
            DWORD got = 0;
            if (!g_winHttpReadData(request, buffer.get(), want, &got)) return "read_failed";
            if (got == 0) break;
            received += got;
            // The chunk that would cross the announced size is never written.
            if (received > expectedSize) return "size_exceeded";
            uint32_t writeError = 0;
            if (!WriteToFile(out, buffer.get(), got, writeError) || !hasher.ready)
                return "disk_or_hash_error";
            if (!hasher.Update(buffer.get(), got)) return "disk_or_hash_error";
            available -= got < available ? got : available;
            const int64_t nowNs = g_monotonicNowNs();
            if (ProgressDue(lastReportNs, nowNs, received, expectedSize)) {
                if (progress) {
                    progress(DownloadProgress{received, expectedSize,
                                              AverageBytesPerSecond(received, startNs, nowNs)});
                }
                lastReportNs = nowNs;
            }
        }
    }
    // Bytes that were received but could not be flushed would leave a short file behind a
    // success, so a failed flush or close is a disk error.
    if (!CloseOutput(out)) return "disk_or_hash_error";
    if (received != expectedSize) return "size_mismatch";
    const std::string digest = hasher.FinishHex();
    if (digest.empty() || digest != expectedSha256) return "sha256_mismatch";
    return {};
}

}  // namespace

DownloadOutcome DownloadFile(std::string_view url, const std::u16string& destination,
                             uint64_t expectedSize, std::string_view expectedSha256,
                             const std::atomic<bool>& cancel, const DownloadProgressSink& progress,
                             std::string& resultCode, const HttpTimeouts& timeouts) {
    UrlParts parts;
    if (!SplitUrl(url, parts)) return DownloadOutcome::UrlRejected;
    // Declared before the handles so that it closes after them.
    Sha256Hasher hasher;
    HttpGet get;
    if (OpenHttpGet(parts, get) != OpenStep::done) return DownloadOutcome::NoConnection;
    ConfigureHttpGet(get.request.get(), timeouts);

    hasher.Open();
    // Every chunk is one write of its own, so a full disk shows at that chunk.
    uint32_t openError = 0;
    FileOwner out = CreateFileForWriting(destination, openError);
    const int64_t startNs = g_monotonicNowNs();

    if (!out || !hasher.ready) {
        resultCode = "network_error";
    } else if (!SendHttpGet(get.request.get())) {
        // The wait for the response headers ends by time-out on a silent server; a cancel raised
        // meanwhile is what the user asked for.
        resultCode = cancel.load() ? "cancelled" : "network_error";
    } else if (const uint32_t status = QueryHttpStatus(get.request.get()); status != 200) {
        resultCode = "http_" + std::to_string(status);
    } else {
        resultCode = TransferBody(get.request.get(), out, hasher, expectedSize, expectedSha256,
                                  cancel, progress, startNs);
    }
    CloseOutput(out);
    // Leaving closes the request, the connection and the session, then the hasher.
    return DownloadOutcome::Transferred;
}
