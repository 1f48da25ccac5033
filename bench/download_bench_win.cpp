// Timings and memory of the streamed download, against a bare WinHTTP read loop in the same
// process kind, so Wine's own cost can be told from ours. Run by scripts/bench; prints one line
// of key=value figures per run.
//
//   varnok_bench_download download URL DEST SIZE SHA256   DownloadFile as the installer calls it
//   varnok_bench_download bare URL                        read loop only, bytes discarded
//   varnok_bench_download bare-write URL DEST             read loop writing the file, no hashing
//   varnok_bench_download hash FILE                       SHA-256 of a file on disk only
#include <windows.h>
#include <psapi.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "common/text.h"
#include "common/text_win.h"
#include "manifest/sha256.h"
#include "net/download.h"
#include "net/winhttp_request_win.h"

namespace {

double Seconds(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

unsigned long long PeakWorkingSet() {
    PROCESS_MEMORY_COUNTERS counters = {};
    counters.cb = sizeof(counters);
    if (!GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof(counters))) return 0;
    return counters.PeakWorkingSetSize;
}

void Print(const char* mode, double seconds, unsigned long long bytes, const std::string& code) {
    std::printf("mode=%s seconds=%.4f bytes=%llu mib_per_s=%.1f peak_working_set=%llu code=%s\n",
                mode, seconds, bytes, bytes / 1048576.0 / (seconds > 0 ? seconds : 1e-9),
                PeakWorkingSet(), code.empty() ? "ok" : code.c_str());
}

// The same request set-up as the installer, then the plainest loop WinHTTP allows.
int BareLoop(const std::string& url, const wchar_t* dest) {
    UrlParts parts;
    if (!SplitUrl(url, parts)) return 2;
    const auto start = std::chrono::steady_clock::now();
    HttpGet get;
    if (OpenHttpGet(parts, get) != OpenStep::done) return 3;
    ConfigureHttpGet(get.request.get(), kDownloadTimeouts);
    if (!SendHttpGet(get.request.get()) || QueryHttpStatus(get.request.get()) != 200) return 4;
    std::ofstream out;
    if (dest != nullptr) {
        out.rdbuf()->pubsetbuf(nullptr, 0);
        out.open(std::filesystem::path(dest), std::ios::binary | std::ios::trunc);
        if (!out) return 5;
    }
    const auto buffer = std::make_unique<char[]>(kDownloadBufferBytes);
    unsigned long long total = 0;
    DWORD available = 0;
    while (WinHttpQueryDataAvailable(get.request.get(), &available) && available != 0) {
        while (available != 0) {
            DWORD got = 0;
            const DWORD want = available < kDownloadBufferBytes ? available : kDownloadBufferBytes;
            if (!WinHttpReadData(get.request.get(), buffer.get(), want, &got) || got == 0) break;
            if (dest != nullptr) out.write(buffer.get(), got);
            total += got;
            available -= got < available ? got : available;
        }
    }
    out.close();
    Print(dest != nullptr ? "bare-write" : "bare", Seconds(start), total, {});
    return 0;
}

int HashFile(const wchar_t* path) {
    const auto start = std::chrono::steady_clock::now();
    uint64_t size = 0;
    std::string hex;
    if (!Sha256FileHex(FromWide(path), size, hex)) return 6;
    Print("hash", Seconds(start), size, hex);
    return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    const std::wstring mode = argc > 1 ? argv[1] : L"";
    const std::string url = argc > 2 ? Utf16ToUtf8(FromWide(argv[2])) : std::string();
    if (mode == L"download" && argc == 6) {
        const uint64_t size = std::wcstoull(argv[4], nullptr, 10);
        const std::string sha = Utf16ToUtf8(FromWide(argv[5]));
        std::atomic<bool> cancel{false};
        unsigned long long reports = 0;
        Failure failure;
        const auto start = std::chrono::steady_clock::now();
        const DownloadOutcome outcome = DownloadFile(
            url, FromWide(argv[3]), size, sha, cancel, [&](const DownloadProgress&) { ++reports; },
            failure);
        const double seconds = Seconds(start);
        std::string code = failure.code;
        if (outcome != DownloadOutcome::Transferred) code = "not_transferred";
        Print("download", seconds, size, code);
        std::printf("progress_reports=%llu\n", reports);
        return code.empty() ? 0 : 1;
    }
    if (mode == L"bare" && argc == 3) return BareLoop(url, nullptr);
    if (mode == L"bare-write" && argc == 4) return BareLoop(url, argv[3]);
    if (mode == L"hash" && argc == 3) return HashFile(argv[2]);
    std::fprintf(
        stderr,
        "usage: download URL DEST SIZE SHA256 | bare URL | bare-write URL DEST | hash FILE\n");
    return 2;
}
