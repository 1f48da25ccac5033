// HttpsGetToMemory against real servers: nginx over TLS and the fault server for what nginx will
// not do on request.
#include <windows.h>
#include <winhttp.h>

#include <functional>

#include <gtest/gtest.h>

#include "common/scoped_override.h"
#include "net/https.h"
#include "net/winhttp_request_win.h"
#include "tests/net/test_servers_win.h"
#include "tests/net/winhttp_fakes_win.h"

namespace {

constexpr uint64_t kNoLimit = UINT64_MAX;
// Short enough for a quick test, long enough for a loaded machine to answer a healthy request.
constexpr HttpTimeouts kShortTimeouts{5000, 5000, 5000, 1500, 0};

// Every single wait stays far inside the receive time-out; only the bound on the whole fetch,
// cut down from the installer's two minutes, can end a drip.
constexpr HttpTimeouts kDripTimeouts{5000, 5000, 5000, 10000, 3000};

bool RunningUnderWine() {
    return GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr;
}

struct Fetch {
    bool ok = false;
    std::string body;
    std::string error;  // the failure's code
    Failure failure;
};

Fetch Get(const std::string& url, uint64_t limit = kNoLimit,
          const HttpTimeouts& timeouts = kFetchTimeouts) {
    Fetch fetch;
    fetch.ok = HttpsGetToMemory(url, limit, fetch.body, fetch.failure, timeouts);
    fetch.error = fetch.failure.code;
    return fetch;
}

std::string Fault(const std::string& target) {
    return HttpsUrl(Servers().faultTlsPort, target);
}

}  // namespace

TEST(HttpsGetToMemory, ReadsAFileFromNginxWholly) {
    REQUIRE_TEST_SERVERS();
    const ServedFile& file = Servers().files.at("client");
    const Fetch fetch = Get(HttpsUrl(Servers().trustedPort, file.path));
    ASSERT_TRUE(fetch.ok) << fetch.error;
    EXPECT_EQ(fetch.body.size(), file.size);
    EXPECT_TRUE(fetch.body == PatternBytes(file.size));
}

TEST(HttpsGetToMemory, EmptyOkResponseSucceedsWithEmptyBodyAndLeavesErrorAlone) {
    REQUIRE_TEST_SERVERS();
    std::string body = "stale";
    Failure error{"step", "caller's text"};
    ASSERT_TRUE(HttpsGetToMemory(HttpsUrl(Servers().trustedPort, Servers().files.at("empty").path),
                                 kNoLimit, body, error));
    EXPECT_TRUE(body.empty());
    EXPECT_EQ(error.code, "caller's text");
}

TEST(HttpsGetToMemory, BodyOfExactlyTheLimitIsAcceptedAndOneByteMoreIsNot) {
    REQUIRE_TEST_SERVERS();
    Fetch fetch = Get(Fault("/body/4096"), 4096);
    ASSERT_TRUE(fetch.ok) << fetch.error;
    EXPECT_TRUE(fetch.body == PatternBytes(4096));

    fetch = Get(Fault("/body/4097"), 4096);
    EXPECT_FALSE(fetch.ok);
    EXPECT_EQ(fetch.error, "response_too_large");
    EXPECT_LE(fetch.body.size(), 4096u);

    // The same edge on a body far larger than one chunk, from nginx.
    const ServedFile& file = Servers().files.at("client");
    fetch = Get(HttpsUrl(Servers().trustedPort, file.path), file.size);
    EXPECT_TRUE(fetch.ok) << fetch.error;
    fetch = Get(HttpsUrl(Servers().trustedPort, file.path), file.size - 1);
    EXPECT_EQ(fetch.error, "response_too_large");
    EXPECT_LT(fetch.body.size(), file.size);
}

TEST(HttpsGetToMemory, EveryStatusButExactly200Fails) {
    REQUIRE_TEST_SERVERS();
    for (int code : {204, 404, 500}) {
        const Fetch fetch = Get(Fault("/status/" + std::to_string(code)));
        EXPECT_FALSE(fetch.ok) << code;
        EXPECT_EQ(fetch.error, "http_" + std::to_string(code));
    }
    const Fetch missing = Get(HttpsUrl(Servers().trustedPort, "/files/no-such-file"));
    EXPECT_EQ(missing.error, "http_404");
}

TEST(HttpsGetToMemory, RedirectsAreReportedAndNeverFollowed) {
    REQUIRE_TEST_SERVERS();
    for (int code : {301, 302}) {
        const std::string target = "/never-asked-" + UniqueToken();
        const Fetch fetch = Get(Fault("/redirect/" + std::to_string(code) + "?to=" + target));
        EXPECT_FALSE(fetch.ok);
        EXPECT_EQ(fetch.error, "http_" + std::to_string(code));
        // The target's name appears only inside the redirecting request: it was never asked.
        const auto seen = FaultRequestsWith(target);
        ASSERT_EQ(seen.size(), 1u);
        EXPECT_EQ(seen[0].target, "/redirect/" + std::to_string(code) + "?to=" + target);
        EXPECT_EQ(seen[0].userAgent, "VarnokClientSetup/1.0");
    }
}

TEST(HttpsGetToMemory, SendsTheInstallersUserAgentAndPathWithQueryButNoFragment) {
    REQUIRE_TEST_SERVERS();
    const std::string token = UniqueToken();
    const Fetch fetch = Get(Fault("/body/10?id=" + token + "&x=1#secret-fragment"));
    ASSERT_TRUE(fetch.ok) << fetch.error;
    const auto seen = FaultRequestsWith(token);
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].target, "/body/10?id=" + token + "&x=1");
    EXPECT_EQ(seen[0].userAgent, "VarnokClientSetup/1.0");
}

TEST(HttpsGetToMemory, UnsplittableUrlIsInvalid) {
    for (const char* url : {"", "ftp://localhost/x", "localhost/x"}) {
        std::string body;
        Failure error;
        EXPECT_FALSE(HttpsGetToMemory(url, kNoLimit, body, error)) << url;
        EXPECT_EQ(error.code, "invalid_url");
    }
}

TEST(HttpsGetToMemory, CertificateProblemsAndDeadPortsAreUnreachable) {
    REQUIRE_TEST_SERVERS();
    const std::string path = Servers().files.at("small").path;
    EXPECT_EQ(Get(HttpsUrl(Servers().otherNamePort, path)).error, "network_unreachable")
        << "a certificate for another host name";
    EXPECT_EQ(Get(HttpsUrl(Servers().rogueCaPort, path)).error, "network_unreachable")
        << "a certificate from an untrusted CA";
    EXPECT_EQ(Get(HttpsUrl(Servers().closedPort, path)).error, "network_unreachable")
        << "nothing listening";
    EXPECT_EQ(Get(HttpsUrl(Servers().faultPlainPort, "/body/10"), kNoLimit, kShortTimeouts).error,
              "network_unreachable")
        << "TLS asked of a plain HTTP server";
    // The trusted one answers, so the failures above are the certificates' doing.
    EXPECT_TRUE(Get(HttpsUrl(Servers().trustedPort, path)).ok);
}

TEST(HttpsGetToMemory, PlainHttpIsSpokenWhenTheUrlSaysHttp) {
    REQUIRE_TEST_SERVERS();
    const Fetch fetch =
        Get("http://localhost:" + std::to_string(Servers().faultPlainPort) + "/body/300");
    ASSERT_TRUE(fetch.ok) << fetch.error;
    EXPECT_TRUE(fetch.body == PatternBytes(300));
}

TEST(HttpsGetToMemory, ServerThatNeverAnswersEndsByTimeOut) {
    REQUIRE_TEST_SERVERS();
    Fetch fetch;
    MustReturnWithin(30, "a fetch from a server that never answers", [&] {
        fetch = Get(Fault("/stall-headers?" + UniqueToken()), kNoLimit, kShortTimeouts);
    });
    EXPECT_FALSE(fetch.ok);
    EXPECT_EQ(fetch.error, "network_unreachable");
}

TEST(HttpsGetToMemory, StallInMidBodyEndsWithThePartReceived) {
    REQUIRE_TEST_SERVERS();
    // The end of data, whatever its cause, ends the body; the caller's checks catch it.
    Fetch fetch;
    MustReturnWithin(30, "a fetch stalled in mid-body", [&] {
        fetch = Get(Fault("/stall-body/5000/1200"), kNoLimit, kShortTimeouts);
    });
    EXPECT_TRUE(fetch.ok || fetch.error == "read_failed") << fetch.error;
    EXPECT_TRUE(fetch.body == PatternBytes(1200)) << fetch.body.size();
}

TEST(HttpsGetToMemory, BodiesCutShortEndWithWhatArrived) {
    REQUIRE_TEST_SERVERS();
    Fetch fetch = Get(Fault("/cut/5000/1200"));
    EXPECT_TRUE(fetch.ok || fetch.error == "read_failed") << fetch.error;
    EXPECT_TRUE(fetch.body == PatternBytes(1200)) << fetch.body.size();
    fetch = Get(Fault("/chunked-cut/5000"));
    EXPECT_TRUE(fetch.ok || fetch.error == "read_failed") << fetch.error;
    EXPECT_TRUE(fetch.body == PatternBytes(5000)) << fetch.body.size();
    fetch = Get(Fault("/chunked/5000"));
    ASSERT_TRUE(fetch.ok) << fetch.error;
    EXPECT_TRUE(fetch.body == PatternBytes(5000));
}

TEST(HttpsGetToMemory, BytesBeyondTheAnnouncedLengthAreNotTaken) {
    REQUIRE_TEST_SERVERS();
    const Fetch fetch = Get(Fault("/overlong/1000/3000"));
    ASSERT_TRUE(fetch.ok) << fetch.error;
    EXPECT_TRUE(fetch.body == PatternBytes(1000)) << fetch.body.size();
}

TEST(HttpsGetToMemory, HandlesThatCannotBeCreatedHaveTheirOwnCodes) {
    REQUIRE_TEST_SERVERS();
    const std::string token = UniqueToken();
    const std::string url = Fault("/body/10?" + token);
    {
        ScopedOverride o(g_winHttpOpen, &NoSession);
        EXPECT_EQ(Get(url).error, "winhttp_open");
    }
    {
        ScopedOverride o(g_winHttpConnect, &NoConnection);
        EXPECT_EQ(Get(url).error, "connect_failed");
    }
    {
        ScopedOverride o(g_winHttpOpenRequest, &NoRequest);
        EXPECT_EQ(Get(url).error, "request_failed");
    }
    EXPECT_TRUE(FaultRequestsWith(token).empty());
}

TEST(HttpsGetToMemory, UnreadableStatusIsHttp0) {
    REQUIRE_TEST_SERVERS();
    ScopedOverride o(g_winHttpQueryHeaders, &NoStatus);
    EXPECT_EQ(Get(Fault("/body/10")).error, "http_0");
}

TEST(HttpsGetToMemory, FailedReadFailsTheFetchKeepingWhatArrived) {
    REQUIRE_TEST_SERVERS();
    g_readsBeforeFailure = 1;
    ScopedOverride o(g_winHttpReadData, &FailingRead);
    const Fetch fetch = Get(Fault("/paced/200000/20000/30"));
    EXPECT_FALSE(fetch.ok);
    EXPECT_EQ(fetch.error, "read_failed");
    EXPECT_GT(fetch.body.size(), 0u);
    EXPECT_LT(fetch.body.size(), 200000u);
    EXPECT_TRUE(fetch.body == PatternBytes(fetch.body.size()));
}

TEST(HttpsGetToMemory, ABodyDrippedInsideEveryTimeOutEndsAtTheOverallBound) {
    REQUIRE_TEST_SERVERS();
    Fetch fetch;
    MustReturnWithin(60, "a fetch of a body dripped one byte at a time", [&] {
        fetch = Get(Fault("/drip/1000/200?" + UniqueToken()), kNoLimit, kDripTimeouts);
    });
    EXPECT_FALSE(fetch.ok);
    EXPECT_EQ(fetch.error, "fetch_timed_out");
    EXPECT_LT(fetch.body.size(), 1000u);
    EXPECT_TRUE(fetch.body == PatternBytes(fetch.body.size()));

    // A drip that ends inside the bound is a fetch like any other.
    fetch = Get(Fault("/drip/5/100?" + UniqueToken()), kNoLimit, kDripTimeouts);
    ASSERT_TRUE(fetch.ok) << fetch.error;
    EXPECT_TRUE(fetch.body == PatternBytes(5));
}

TEST(HttpsGetToMemory, HeadersDrippedInsideEveryTimeOutEndAtTheOverallBound) {
    REQUIRE_TEST_SERVERS();
    if (RunningUnderWine())
        GTEST_SKIP() << "WineHeaderWaitIsPerRead: Wine applies the response-header time-out to "
                        "each read, not to the whole header wait, so headers dripped inside it "
                        "never end there; Windows bounds the whole wait";
    Fetch fetch;
    MustReturnWithin(60, "a fetch whose headers are dripped one byte at a time", [&] {
        fetch = Get(Fault("/drip-headers/200?" + UniqueToken()), kNoLimit, kDripTimeouts);
    });
    EXPECT_FALSE(fetch.ok);
    EXPECT_EQ(fetch.error, "fetch_timed_out");
}

// What support reads from the Error screen: each failure's code comes with the number the
// system gave for it, taken right after the failing call.
TEST(HttpsGetToMemory, EveryFailureKeepsTheSystemsNumberBesideItsCode) {
    REQUIRE_TEST_SERVERS();
    const std::string small = Servers().files.at("small").path;
    // Windows reports a certificate it refuses as a secure failure; Wine's TLS layer reports the
    // same refusal as a secure channel error.
    const uint32_t untrusted =
        RunningUnderWine() ? ERROR_WINHTTP_SECURE_CHANNEL_ERROR : ERROR_WINHTTP_SECURE_FAILURE;
    struct Row {
        const char* what;
        std::function<Fetch()> run;
        const char* code;
        uint32_t number;
        FailureNumber source;
    };
    const Row rows[] = {
        {"nothing listening", [&] { return Get(HttpsUrl(Servers().closedPort, small)); },
         "network_unreachable", ERROR_WINHTTP_CANNOT_CONNECT, FailureNumber::Windows},
        {"an untrusted CA", [&] { return Get(HttpsUrl(Servers().rogueCaPort, small)); },
         "network_unreachable", untrusted, FailureNumber::Windows},
        {"a missing file", [&] { return Get(HttpsUrl(Servers().trustedPort, "/missing")); },
         "http_404", 404, FailureNumber::Http},
        {"a body over the limit", [&] { return Get(HttpsUrl(Servers().trustedPort, small), 10); },
         "response_too_large", 0, FailureNumber::None},
        {"no session",
         [&] {
             ScopedOverride o(g_winHttpOpen, &NoSession);
             return Get(HttpsUrl(Servers().trustedPort, small));
         },
         "winhttp_open", ERROR_NOT_ENOUGH_MEMORY, FailureNumber::Windows},
        {"no connection",
         [&] {
             ScopedOverride o(g_winHttpConnect, &NoConnection);
             return Get(HttpsUrl(Servers().trustedPort, small));
         },
         "connect_failed", ERROR_WINHTTP_INVALID_URL, FailureNumber::Windows},
        {"a read that fails",
         [&] {
             g_readsBeforeFailure = 0;
             ScopedOverride o(g_winHttpReadData, &FailingRead);
             return Get(HttpsUrl(Servers().trustedPort, small));
         },
         "read_failed", ERROR_WINHTTP_CONNECTION_ERROR, FailureNumber::Windows},
    };
    for (const Row& row : rows) {
        const Fetch fetch = row.run();
        EXPECT_EQ(fetch.failure.code, row.code) << row.what;
        EXPECT_EQ(fetch.failure.number, row.number) << row.what;
        EXPECT_EQ(fetch.failure.source, row.source) << row.what;
    }
}
