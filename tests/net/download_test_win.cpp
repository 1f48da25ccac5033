// DownloadFile against real servers: every result code, the size cap, the cancel flag and the
// progress reports.
#include <windows.h>
#include <winhttp.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <vector>

#include "common/scoped_override.h"
#include "manifest/sha256.h"
#include "net/download.h"
#include "net/winhttp_request_win.h"
#include "tests/net/test_servers_win.h"
#include "tests/net/winhttp_fakes_win.h"
#include "tests/support/scratch.h"

namespace {

constexpr HttpTimeouts kShortTimeouts{5000, 5000, 5000, 1500, 0};

std::string Digest(const std::string& bytes) {
    Sha256Hasher hasher;
    hasher.Open();
    if (!hasher.ready || !hasher.Update(bytes.data(), bytes.size())) return {};
    return hasher.FinishHex();
}

std::string Fault(const std::string& target) {
    return HttpsUrl(Servers().faultTlsPort, target);
}
std::string Nginx(const std::string& target) {
    return HttpsUrl(Servers().trustedPort, target);
}

struct Download {
    DownloadOutcome outcome = DownloadOutcome::UrlRejected;
    std::string code = "unset";  // the failure's code
    Failure failure;
    std::vector<DownloadProgress> reports;
    std::string file;  // what the destination held afterwards
    bool fileExists = false;
};

// Runs one download into `dir`; `onReport` may act on each report (set the cancel flag).
Download Fetch(
    const ScratchDir& dir, const std::string& url, uint64_t size, const std::string& sha,
    const HttpTimeouts& timeouts = kDownloadTimeouts,
    std::function<void(const DownloadProgress&, std::atomic<bool>&)> onReport = nullptr) {
    Download d;
    std::atomic<bool> cancel{false};
    const std::filesystem::path dest = dir / ".VarnokClient.exe.part";
    d.outcome = DownloadFile(
        url, dest.u16string(), size, sha, cancel,
        [&](const DownloadProgress& p) {
            d.reports.push_back(p);
            if (onReport) onReport(p, cancel);
        },
        d.failure, timeouts);
    d.code = d.failure.code;
    d.fileExists = std::filesystem::exists(dest);
    if (d.fileExists) d.file = ReadFileBytes(dest);
    return d;
}

// A clock that moves on by a fixed step at every reading, so reports depend on reads only.
int64_t g_fakeNow = 0;
int64_t g_fakeStep = 0;
int64_t FakeNow() {
    return g_fakeNow += g_fakeStep;
}

}  // namespace

TEST(DownloadFile, ExactSizeWithTheRightDigestSucceedsAndTheLastReportIsComplete) {
    REQUIRE_TEST_SERVERS();
    const ServedFile& file = Servers().files.at("client");
    ScratchDir dir;
    const Download d = Fetch(dir, Nginx(file.path), file.size, file.sha256);
    ASSERT_EQ(d.outcome, DownloadOutcome::Transferred);
    EXPECT_EQ(d.code, "");
    EXPECT_EQ(d.file.size(), file.size);
    EXPECT_TRUE(d.file == PatternBytes(file.size));
    ASSERT_FALSE(d.reports.empty());
    EXPECT_EQ(d.reports.back().bytesDone, file.size);
    EXPECT_EQ(d.reports.back().bytesTotal, file.size);
    EXPECT_GT(d.reports.back().bytesPerSecond, 0.0);
    for (size_t i = 1; i < d.reports.size(); ++i)
        EXPECT_GT(d.reports[i].bytesDone, d.reports[i - 1].bytesDone);
}

TEST(DownloadFile, ReportsAtMostEveryFiftyMillisecondsPlusTheLastByte) {
    REQUIRE_TEST_SERVERS();
    const ServedFile& file = Servers().files.at("client");
    g_fakeNow = 0;
    g_fakeStep = 20'000'000;  // 20 ms per reading: a report is due at every third reading
    ScopedOverride clock(g_monotonicNowNs, &FakeNow);
    std::vector<int64_t> reportTimes;
    ScratchDir dir;
    const Download d = Fetch(
        dir, Nginx(file.path), file.size, file.sha256, kDownloadTimeouts,
        [&](const DownloadProgress&, std::atomic<bool>&) { reportTimes.push_back(g_fakeNow); });
    ASSERT_EQ(d.code, "");
    ASSERT_GE(reportTimes.size(), 2u);
    // The start reading is the first; the last report may come sooner than 50 ms after another.
    EXPECT_GE(reportTimes[0] - 20'000'000, 50'000'000 - 20'000'000);
    for (size_t i = 1; i + 1 < reportTimes.size(); ++i)
        EXPECT_EQ(reportTimes[i] - reportTimes[i - 1], 60'000'000) << i;
    EXPECT_EQ(d.reports.back().bytesDone, file.size);
    // Speed is the bytes over the fake time since the start reading.
    const double seconds = static_cast<double>(reportTimes.back() - 20'000'000) / 1e9;
    EXPECT_DOUBLE_EQ(d.reports.back().bytesPerSecond, static_cast<double>(file.size) / seconds);
}

TEST(DownloadFile, DownloadWithinFiftyMillisecondsReportsOnceWithSpeedOverFiftyMilliseconds) {
    REQUIRE_TEST_SERVERS();
    const ServedFile& file = Servers().files.at("small");
    g_fakeNow = 0;
    g_fakeStep = 1'000'000;  // 1 ms per reading
    ScopedOverride clock(g_monotonicNowNs, &FakeNow);
    ScratchDir dir;
    const Download d = Fetch(dir, Nginx(file.path), file.size, file.sha256);
    ASSERT_EQ(d.code, "");
    ASSERT_EQ(d.reports.size(), 1u);
    EXPECT_EQ(d.reports[0].bytesDone, file.size);
    EXPECT_EQ(d.reports[0].bytesTotal, file.size);
    EXPECT_DOUBLE_EQ(d.reports[0].bytesPerSecond, file.size / 0.05);
}

TEST(DownloadFile, OneByteMoreThanExpectedIsRefusedAndNeverWritten) {
    REQUIRE_TEST_SERVERS();
    ScratchDir dir;
    const std::string expected = PatternBytes(5000);
    Download d = Fetch(dir, Fault("/body/5001"), 5000, Digest(expected));
    ASSERT_EQ(d.outcome, DownloadOutcome::Transferred);
    EXPECT_EQ(d.code, "size_exceeded");
    EXPECT_LE(d.file.size(), 5000u);
    for (const auto& report : d.reports) EXPECT_LE(report.bytesDone, 5000u);

    // A large file one byte over an expected size that ends mid-chunk.
    const ServedFile& file = Servers().files.at("client");
    d = Fetch(dir, Nginx(file.path), file.size - 1, file.sha256);
    EXPECT_EQ(d.code, "size_exceeded");
    EXPECT_LE(d.file.size(), file.size - 1);
}

TEST(DownloadFile, BodyEndingBeforeTheExpectedSizeIsASizeMismatch) {
    REQUIRE_TEST_SERVERS();
    ScratchDir dir;
    const std::string sha = Digest(PatternBytes(5000));
    EXPECT_EQ(Fetch(dir, Fault("/body/4999"), 5000, sha).code, "size_mismatch");
    EXPECT_EQ(Fetch(dir, Fault("/cut/5000/1200"), 5000, sha).code, "size_mismatch")
        << "Content-Length not reached";
    EXPECT_EQ(Fetch(dir, Fault("/chunked-cut/4000"), 5000, sha).code, "size_mismatch")
        << "chunked body without its last chunk";
    Download d;
    MustReturnWithin(30, "a download stalled in mid-body", [&] {
        d = Fetch(dir, Fault("/stall-body/5000/1200"), 5000, sha, kShortTimeouts);
    });
    EXPECT_TRUE(d.code == "size_mismatch" || d.code == "read_failed") << d.code;
    EXPECT_TRUE(d.file == PatternBytes(1200)) << d.file.size();
}

TEST(DownloadFile, RightSizeWithOneChangedByteIsADigestMismatch) {
    REQUIRE_TEST_SERVERS();
    ScratchDir dir;
    const ServedFile& file = Servers().files.at("tampered");
    Download d = Fetch(dir, Nginx(file.path), file.size, file.sha256);
    EXPECT_EQ(d.code, "sha256_mismatch");
    EXPECT_EQ(d.file.size(), file.size);
    d = Fetch(dir, Fault("/body/3000?flip=2999"), 3000, Digest(PatternBytes(3000)));
    EXPECT_EQ(d.code, "sha256_mismatch");
    // Digests are compared exactly: the right digest in capitals is not the announced text.
    std::string upper = Digest(PatternBytes(3000));
    for (char& c : upper) c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
    EXPECT_EQ(Fetch(dir, Fault("/body/3000"), 3000, upper).code, "sha256_mismatch");
    EXPECT_EQ(Fetch(dir, Fault("/body/3000"), 3000, Digest(PatternBytes(3000))).code, "");
}

TEST(DownloadFile, StatusOtherThan200EndsWithItsCodeAndRedirectsAreNotFollowed) {
    REQUIRE_TEST_SERVERS();
    ScratchDir dir;
    const std::string sha = Digest(PatternBytes(10));
    EXPECT_EQ(Fetch(dir, Nginx("/api/updates/files/missing.exe"), 10, sha).code, "http_404");
    for (int code : {204, 404, 500})
        EXPECT_EQ(Fetch(dir, Fault("/status/" + std::to_string(code)), 10, sha).code,
                  "http_" + std::to_string(code));
    const std::string target = "/never-asked-" + UniqueToken();
    const Download d = Fetch(dir, Fault("/redirect/302?to=" + target), 10, sha);
    EXPECT_EQ(d.code, "http_302");
    EXPECT_TRUE(d.reports.empty());
    const auto seen = FaultRequestsWith(target);
    ASSERT_EQ(seen.size(), 1u) << "the redirect target was asked";
    EXPECT_EQ(seen[0].target, "/redirect/302?to=" + target);
    EXPECT_EQ(seen[0].userAgent, "VarnokClientSetup/1.0");
}

TEST(DownloadFile, CancelSetDuringTheTransferEndsAtTheNextBatchAndKeepsThePart) {
    REQUIRE_TEST_SERVERS();
    ScratchDir dir;
    g_fakeNow = 0;
    g_fakeStep = 60'000'000;  // every chunk reports, so the first report can raise the flag
    ScopedOverride clock(g_monotonicNowNs, &FakeNow);
    const uint64_t size = 400000;
    const Download d = Fetch(
        dir, Fault("/paced/400000/20000/20"), size, Digest(PatternBytes(size)), kDownloadTimeouts,
        [](const DownloadProgress&, std::atomic<bool>& cancel) { cancel = true; });
    EXPECT_EQ(d.code, "cancelled");
    EXPECT_TRUE(d.fileExists);
    EXPECT_GT(d.file.size(), 0u);
    EXPECT_LT(d.file.size(), size);
    EXPECT_TRUE(d.file == PatternBytes(d.file.size()));
    // Reads stop at the batch in which the flag was raised.
    EXPECT_EQ(d.reports.back().bytesDone, d.file.size());
}

TEST(DownloadFile, CancelRaisedWhileTheServerStallsInMidBodyIsACancelWhenTheWaitEnds) {
    REQUIRE_TEST_SERVERS();
    ScratchDir dir;
    g_fakeNow = 0;
    g_fakeStep = 60'000'000;  // every chunk reports
    ScopedOverride clock(g_monotonicNowNs, &FakeNow);
    const uint64_t size = 100000;
    Download d;
    MustReturnWithin(30, "a cancelled download from a server that stalls in mid-body", [&] {
        d = Fetch(dir, Fault("/stall-body/100000/20000?" + UniqueToken()), size,
                  Digest(PatternBytes(size)), kShortTimeouts,
                  [](const DownloadProgress& p, std::atomic<bool>& cancel) {
                      if (p.bytesDone == 20000) cancel = true;  // all that will come
                  });
    });
    EXPECT_EQ(d.code, "cancelled");
    EXPECT_EQ(d.file.size(), 20000u);
}

TEST(DownloadFile, CancelRaisedWhileTheServerNeverAnswersIsACancelWhenTheWaitEnds) {
    REQUIRE_TEST_SERVERS();
    ScratchDir dir;
    std::atomic<bool> cancel{true};  // raised during the wait for the headers
    Failure failure;
    const std::filesystem::path dest = dir / ".VarnokClient.exe.part";
    MustReturnWithin(30, "a cancelled download from a server that never answers", [&] {
        DownloadFile(Fault("/stall-headers?" + UniqueToken()), dest.u16string(), 1000,
                     Digest(PatternBytes(1000)), cancel, nullptr, failure, kShortTimeouts);
    });
    EXPECT_EQ(failure.code, "cancelled");
}

TEST(DownloadFile, UnwritableDestinationSendsNoRequest) {
    REQUIRE_TEST_SERVERS();
    ScratchDir dir;
    const std::string token = UniqueToken();
    std::atomic<bool> cancel{false};
    Failure failure;
    // A folder that does not exist, and a destination that is itself a folder.
    for (const std::filesystem::path& dest :
         {dir / "missing" / "folder" / "x.part", std::filesystem::path(dir.path())}) {
        const DownloadOutcome outcome =
            DownloadFile(Fault("/body/10?" + token), dest.u16string(), 10, Digest(PatternBytes(10)),
                         cancel, nullptr, failure);
        EXPECT_EQ(outcome, DownloadOutcome::Transferred);
        EXPECT_EQ(failure.code, "network_error") << dest;
        EXPECT_NE(failure.number, 0u) << "the file system's reason is kept";
    }
    EXPECT_TRUE(FaultRequestsWith(token).empty()) << "a request reached the server";
}

TEST(DownloadFile, ServerThatNeverAnswersOrCannotBeTrustedIsANetworkError) {
    REQUIRE_TEST_SERVERS();
    ScratchDir dir;
    const std::string sha = Digest(PatternBytes(1000));
    const std::string small = Servers().files.at("small").path;
    Download stalled;
    MustReturnWithin(30, "a download from a server that never answers", [&] {
        stalled = Fetch(dir, Fault("/stall-headers?" + UniqueToken()), 1000, sha, kShortTimeouts);
    });
    EXPECT_EQ(stalled.code, "network_error");
    EXPECT_EQ(Fetch(dir, HttpsUrl(Servers().otherNamePort, small), 1000, sha).code,
              "network_error");
    EXPECT_EQ(Fetch(dir, HttpsUrl(Servers().rogueCaPort, small), 1000, sha).code, "network_error");
    EXPECT_EQ(Fetch(dir, HttpsUrl(Servers().closedPort, small), 1000, sha).code, "network_error");
}

TEST(DownloadFile, UnsplittableUrlIsRejectedBeforeAnythingIsOpened) {
    ScratchDir dir;
    const Download d = Fetch(dir, "ftp://localhost/client.exe", 10, std::string(64, '0'));
    EXPECT_EQ(d.outcome, DownloadOutcome::UrlRejected);
    EXPECT_FALSE(d.fileExists);
}

TEST(DownloadFile, HandleThatCannotBeCreatedIsNoConnection) {
    REQUIRE_TEST_SERVERS();
    ScratchDir dir;
    ScopedOverride o(g_winHttpConnect, &NoConnection);
    const Download d = Fetch(dir, Fault("/body/10"), 10, Digest(PatternBytes(10)));
    EXPECT_EQ(d.outcome, DownloadOutcome::NoConnection);
    EXPECT_FALSE(d.fileExists);
}

TEST(DownloadFile, UnreadableStatusIsHttp0) {
    REQUIRE_TEST_SERVERS();
    ScratchDir dir;
    ScopedOverride o(g_winHttpQueryHeaders, &NoStatus);
    EXPECT_EQ(Fetch(dir, Fault("/body/10"), 10, Digest(PatternBytes(10))).code, "http_0");
}

TEST(DownloadFile, FailedReadEndsTheDownload) {
    REQUIRE_TEST_SERVERS();
    ScratchDir dir;
    g_readsBeforeFailure = 1;
    ScopedOverride o(g_winHttpReadData, &FailingRead);
    const Download d =
        Fetch(dir, Fault("/paced/200000/20000/30"), 200000, Digest(PatternBytes(200000)));
    EXPECT_EQ(d.code, "read_failed");
    EXPECT_LT(d.file.size(), 200000u);
}

TEST(DownloadFile, FullDiskIsADiskError) {
    REQUIRE_TEST_SERVERS();
    // Wine maps Z: to the Linux root, where /dev/full refuses every write as a full disk does.
    if (GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") == nullptr)
        GTEST_SKIP() << "needs Wine's view of /dev/full; on Windows a full volume is needed";
    std::atomic<bool> cancel{false};
    Failure failure;
    const DownloadOutcome outcome =
        DownloadFile(Fault("/body/100000"), u"Z:\\dev\\full", 100000, Digest(PatternBytes(100000)),
                     cancel, nullptr, failure);
    EXPECT_EQ(outcome, DownloadOutcome::Transferred);
    EXPECT_EQ(failure.code, "disk_or_hash_error");
    EXPECT_EQ(failure.number, static_cast<uint32_t>(ERROR_DISK_FULL));
    EXPECT_EQ(failure.source, FailureNumber::Windows);
}
