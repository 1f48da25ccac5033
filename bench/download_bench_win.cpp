// Timings and memory of the streamed download and of the install worker's other steps, each
// against the plainest code that does the same work in the same Wine, so Wine's own cost can be
// told from ours. Run by scripts/bench; prints one line of key=value figures per run.
//
//   varnok_bench_download download URL DEST SIZE SHA256   DownloadFile as the installer calls it
//   varnok_bench_download bare URL                        read loop only, bytes discarded
//   varnok_bench_download bare-write URL DEST             read loop writing the file, no hashing
//   varnok_bench_download hash FILE CHUNK                 CNG SHA-256 of a file already in
//                                                         memory, fed in CHUNK-byte pieces
//   varnok_bench_download manifest BASEURL FOLDER         manifest fetch, then its verification
//   varnok_bench_download place PART FOLDER SOURCE        the steps after the download: move,
//                                                         uninstaller copy, shortcuts, registry,
//                                                         config.json
#include <windows.h>
#include <psapi.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "common/build_info.h"
#include "common/files.h"
#include "common/handles_win.h"
#include "common/known_folders_win.h"
#include "common/path.h"
#include "common/text.h"
#include "common/text_win.h"
#include "game/file_queries.h"
#include "install/install_worker.h"
#include "install/registration.h"
#include "manifest/sha256.h"
#include "manifest/update_manifest.h"
#include "net/download.h"
#include "net/https.h"
#include "net/winhttp_request_win.h"
#include "settings/launcher_config.h"

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
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

// The same request set-up as the installer, then the plainest loop WinHTTP allows. Writing goes
// through the same file layer and the same one write per chunk as DownloadFile, so the only
// difference left is the hashing, the size check and the progress bookkeeping.
int BareLoop(const std::string& url, const wchar_t* dest) {
    UrlParts parts;
    if (!SplitUrl(url, parts)) return 2;
    const auto start = Clock::now();
    HttpGet get;
    if (OpenHttpGet(parts, get) != OpenStep::done) return 3;
    ConfigureHttpGet(get.request.get(), kDownloadTimeouts);
    FileOwner out;
    if (dest != nullptr) {
        uint32_t error = 0;
        out = CreateFileForWriting(FromWide(dest), error);
        if (!out) return 5;
    }
    if (!SendHttpGet(get.request.get()) || QueryHttpStatus(get.request.get()) != 200) return 4;
    const auto buffer = std::make_unique<char[]>(kDownloadBufferBytes);
    unsigned long long total = 0;
    unsigned long long reads = 0;
    DWORD available = 0;
    while (WinHttpQueryDataAvailable(get.request.get(), &available) && available != 0) {
        while (available != 0) {
            DWORD got = 0;
            const DWORD want = available < kDownloadBufferBytes ? available : kDownloadBufferBytes;
            if (!WinHttpReadData(get.request.get(), buffer.get(), want, &got) || got == 0) break;
            uint32_t error = 0;
            if (out && !WriteToFile(out, buffer.get(), got, error)) return 6;
            total += got;
            ++reads;
            available -= got < available ? got : available;
        }
    }
    if (out) {
        uint32_t error = 0;
        FlushFile(out, error);
        out.reset();
    }
    Print(dest != nullptr ? "bare-write" : "bare", Seconds(start), total, {});
    std::printf("reads=%llu mean_chunk=%llu\n", reads, reads ? total / reads : 0);
    return 0;
}

// Hashing alone: the file is read first, so only BCryptHashData is timed, in the chunk size the
// read loop saw.
int HashBytes(const wchar_t* path, size_t chunk) {
    FileOwner file = OpenFileForReading(FromWide(path));
    if (!file || chunk == 0) return 6;
    std::vector<char> bytes;
    std::vector<char> piece(1 << 20);
    for (;;) {
        size_t got = 0;
        if (!ReadFromFile(file, piece.data(), piece.size(), got)) return 6;
        if (got == 0) break;
        bytes.insert(bytes.end(), piece.data(), piece.data() + got);
    }
    const auto start = Clock::now();
    Sha256Hasher hasher;
    hasher.Open();
    if (!hasher.ready) return 7;
    for (size_t at = 0; at < bytes.size(); at += chunk) {
        const size_t n = bytes.size() - at < chunk ? bytes.size() - at : chunk;
        if (!hasher.Update(bytes.data() + at, n)) return 7;
    }
    const std::string hex = hasher.FinishHex();
    Print("hash", Seconds(start), bytes.size(), hex.empty() ? "hash_failed" : std::string());
    return 0;
}

// The worker's first network step and the check that follows it, timed apart.
int FetchManifest(const std::string& baseUrl, const std::string& folderUtf8) {
    const auto start = Clock::now();
    std::string response;
    Failure error;
    if (!HttpsGetToMemory(baseUrl + std::string(kManifestPath), kManifestByteLimit, response,
                          error)) {
        Print("manifest-fetch", Seconds(start), 0, error.code);
        return 8;
    }
    const double fetched = Seconds(start);
    const auto verifyStart = Clock::now();
    UpdateManifest manifest;
    const std::string_view key = BuiltInManifestPublicKey();
    const bool ok = VerifyUpdateManifest(response.data(), response.size(), 0, 0, folderUtf8,
                                         manifest, key.data(), key.size(), 0, 0);
    const double verified = Seconds(verifyStart);
    Print("manifest-fetch", fetched, response.size(), {});
    Print("manifest-verify", verified, response.size(), ok ? std::string() : "rejected");
    return ok ? 0 : 9;
}

// What the worker does once the download is complete, each step timed on its own, with the same
// calls and in the same order.
int PlaceClient(const std::u16string& part, const std::u16string& folder,
                const std::u16string& source) {
    const std::u16string client = JoinPath(folder, kClientExeName);
    const std::u16string uninstaller = JoinPath(folder, kUninstallerName);
    auto start = Clock::now();
    const auto lap = [&start](const char* step) {
        std::printf("step=%s seconds=%.4f\n", step, Seconds(start));
        start = Clock::now();
    };
    const std::optional<std::string> head = g_readFileHead(part, 2);
    if (!head) return 10;
    uint32_t error = 0;
    if (!MoveFileReplacing(part, client, error)) return 11;
    lap("check-and-move");
    CopyFileOver(source, uninstaller);
    lap("uninstaller-copy");
    {
        const UniqueComApartment com = EnterComApartment();
        if (const auto programs = KnownFolderPath(FOLDERID_Programs)) {
            CreateShortcut(JoinPath(JoinPath(*programs, kStartMenuFolderName), kShortcutFileName),
                           client, folder, kShortcutDescription);
        }
        if (const auto desktop = KnownFolderPath(FOLDERID_Desktop)) {
            CreateShortcut(JoinPath(*desktop, kShortcutFileName), client, folder,
                           kShortcutDescription);
        }
    }
    lap("shortcuts");
    RegisterClient(folder, client, uninstaller, "1.0.0", 16u << 20);
    lap("registry");
    LoadLauncherConfig();
    lap("config");
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
        const auto start = Clock::now();
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
    if (mode == L"hash" && argc == 4)
        return HashBytes(argv[2], std::wcstoull(argv[3], nullptr, 10));
    if (mode == L"manifest" && argc == 4) return FetchManifest(url, Utf16ToUtf8(FromWide(argv[3])));
    if (mode == L"place" && argc == 5)
        return PlaceClient(FromWide(argv[2]), FromWide(argv[3]), FromWide(argv[4]));
    std::fprintf(stderr,
                 "usage: download URL DEST SIZE SHA256 | bare URL | bare-write URL DEST | "
                 "hash FILE CHUNK | manifest BASEURL FOLDER | place PART FOLDER SOURCE\n");
    return 2;
}
