#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "manifest/sha256.h"
#include "net/https.h"
#include "tests/support/scratch.h"
#include "tests/tools/tool_support.h"
#include "tools/publish.h"
#include "tools/served_paths.h"
#include "tools/verify.h"

namespace {

// --- the header lines libcurl hands over ------------------------------------------------------

TEST(CollectHeaderLine, ARepeatedHeaderKeepsEveryValueAndOnlyTheLastResponseCounts) {
    struct Case {
        const char* what;
        std::vector<const char*> lines;
        HeaderMap expected;
    };
    const Case cases[] = {
        {"a header sent twice",
         {"HTTP/1.1 200 OK", "Cache-Control: max-age=10", "cache-control:  public "},
         {{"cache-control", "max-age=10, public"}}},
        {"an interim answer before the real one",
         {"HTTP/1.1 100 Continue", "Cache-Control: no-store", "", "HTTP/1.1 200 OK", "Age: 3"},
         {{"age", "3"}}},
        {"a name in any case, a value with colons",
         {"HTTP/2 200", "EXPIRES: Thu, 01 Jan 2026 00:00:00 GMT"},
         {{"expires", "Thu, 01 Jan 2026 00:00:00 GMT"}}},
    };
    for (const Case& c : cases) {
        HeaderMap headers;
        for (const char* line : c.lines) CollectHeaderLine(line, headers);
        EXPECT_EQ(headers, c.expected) << c.what;
    }
}

// --- what the headers let caches do ----------------------------------------------------------

HeaderMap Headers(std::initializer_list<std::pair<const char*, const char*>> list) {
    HeaderMap headers;
    for (const auto& [name, value] : list) headers[name] = value;
    return headers;
}

struct CachingCase {
    const char* what;
    HeaderMap headers;
    bool manifestHolds;
    bool payloadHolds;
};

TEST(VerifyCaching, ManifestAtMostFiveMinutesAndPayloadAtLeastADayWithTheHeaderQuoted) {
    const char* date = "Thu, 10 Dec 2026 00:00:00 GMT";
    const std::vector<CachingCase> cases = {
        {"the shipped manifest", Headers({{"cache-control", "public, max-age=10"}}), true, false},
        {"the limit itself", Headers({{"cache-control", "max-age=300"}}), true, false},
        {"a second past it", Headers({{"cache-control", "max-age=301"}}), false, false},
        {"quoted seconds", Headers({{"cache-control", "max-age=\"20\""}}), true, false},
        {"s-maxage rules shared caches", Headers({{"cache-control", "max-age=10, S-MaxAge=3600"}}),
         false, false},
        {"revalidated every time", Headers({{"cache-control", "no-cache"}}), true, false},
        {"never stored", Headers({{"cache-control", "no-store, max-age=31536000"}}), true, false},
        {"private", Headers({{"cache-control", "private, max-age=31536000"}}), true, false},
        {"private to one header only",
         Headers({{"cache-control", "private=\"set-cookie\", max-age=3600"}}), false, false},
        {"nothing said: the cache picks", Headers({}), false, false},
        {"Expires ten minutes on",
         Headers({{"expires", "Thu, 10 Dec 2026 00:10:00 GMT"}, {"date", date}}), false, false},
        {"the shipped payload", Headers({{"cache-control", "public, max-age=31536000, immutable"}}),
         false, true},
        {"a day exactly", Headers({{"cache-control", "max-age=86400"}}), false, true},
        {"a second short of a day", Headers({{"cache-control", "max-age=86399"}}), false, false},
        {"Expires a year on",
         Headers({{"expires", "Fri, 10 Dec 2027 00:00:00 GMT"}, {"date", date}}), false, true},
        {"Expires that does not parse", Headers({{"expires", "0"}}), true, false},
    };
    for (const CachingCase& c : cases) {
        std::string line;
        EXPECT_EQ(JudgeManifestCaching(c.headers, line), c.manifestHolds) << c.what << ": " << line;
        if (!c.manifestHolds && c.headers.count("cache-control")) {
            EXPECT_NE(line.find("Cache-Control: " + c.headers.at("cache-control")),
                      std::string::npos)
                << c.what << ": the header is not quoted: " << line;
        }
        EXPECT_EQ(JudgePayloadCaching(c.headers, line), c.payloadHolds) << c.what << ": " << line;
    }
}

TEST(VerifyCaching, AnAnswerOlderThanItsLifetimeIsCaughtByItsAge) {
    std::string line;
    EXPECT_TRUE(ServedPastLifetime(
        Headers({{"cache-control", "public, max-age=10"}, {"age", "11"}}), line));
    EXPECT_NE(line.find("Age: 11"), std::string::npos) << line;
    EXPECT_NE(line.find("Cache-Control: public, max-age=10"), std::string::npos) << line;
    EXPECT_FALSE(
        ServedPastLifetime(Headers({{"cache-control", "max-age=10"}, {"age", "10"}}), line));
    EXPECT_FALSE(ServedPastLifetime(Headers({{"cache-control", "max-age=10"}}), line));
    EXPECT_FALSE(ServedPastLifetime(Headers({{"age", "99"}}), line)) << "no lifetime to be past";
    EXPECT_FALSE(ServedPastLifetime(Headers({{"cache-control", "no-store"}, {"age", "99"}}), line));
}

// --- asking as the installer does, against the fault server ------------------------------------

struct FaultServer {
    uint16_t port = 0;
    uint16_t roguePort = 0;  // nginx with a certificate from a CA nobody trusts
    std::string log;
    std::string caFile;
};

bool LoadFaultServer(FaultServer& server) {
    const char* info = std::getenv("VARNOK_TEST_SERVERS");
    if (!info) return false;
    const auto json = nlohmann::json::parse(ReadFileBytes(info));
    server.port = json.at("fault").at("tls_port").get<uint16_t>();
    server.log = json.at("fault").at("log").get<std::string>();
    server.roguePort = json.at("nginx").at("rogue_ca_port").get<uint16_t>();
    server.caFile = std::string(VARNOK_SOURCE_DIR) + "/build/test-ca/ca.pem";
    if (const char* dir = std::getenv("VARNOK_TEST_CA_DIR"))
        server.caFile = std::string(dir) + "/ca.pem";
    return true;
}

// The requests the fault server logged for targets starting with `prefix`.
std::vector<nlohmann::json> Logged(const FaultServer& server, const std::string& prefix) {
    std::vector<nlohmann::json> found;
    std::istringstream lines(ReadFileBytes(server.log));
    for (std::string line; std::getline(lines, line);) {
        const auto entry = nlohmann::json::parse(line, nullptr, false);
        if (entry.is_object() && entry.value("target", "").rfind(prefix, 0) == 0)
            found.push_back(entry);
    }
    return found;
}

class VerifyFetch : public ::testing::Test {
protected:
    void SetUp() override {
        if (!LoadFaultServer(server)) GTEST_SKIP() << "VARNOK_TEST_SERVERS is not set";
        std::string error;
        ASSERT_TRUE(OpenInstallerClient(client, server.caFile, error)) << error;
    }
    std::string Url(const std::string& target) {
        return "https://localhost:" + std::to_string(server.port) + target;
    }
    FaultServer server;
    InstallerClient client;
};

TEST_F(VerifyFetch, ManifestTakesExactlyTheLimitAndRefusesOneByteMore) {
    ServedFile answer;
    const std::string limit = std::to_string(kManifestByteLimit);
    EXPECT_TRUE(FetchManifest(client, Url("/body/" + limit), answer)) << answer.code;
    EXPECT_EQ(answer.body.size(), kManifestByteLimit);
    EXPECT_FALSE(
        FetchManifest(client, Url("/body/" + std::to_string(kManifestByteLimit + 1)), answer));
    EXPECT_EQ(answer.code, "response_too_large");
    EXPECT_LE(answer.body.size(), kManifestByteLimit);
}

TEST_F(VerifyFetch, OnlyA200CountsAndARedirectIsNeverFollowed) {
    ServedFile answer;
    const std::string target = "/redirect-target-of-verify";
    EXPECT_FALSE(FetchManifest(client, Url("/redirect/302?to=" + target), answer));
    EXPECT_EQ(answer.code, "http_302");
    EXPECT_EQ(answer.number, 302);
    EXPECT_FALSE(FetchManifest(client, Url("/status/204"), answer));
    EXPECT_EQ(answer.code, "http_204");
    EXPECT_FALSE(FetchPayload(client, Url("/status/404"), 10, std::string(64, '0'), answer));
    EXPECT_EQ(answer.code, "http_404");
    EXPECT_TRUE(Logged(server, target).empty()) << "the redirect was followed";
    // No answer at all is no status either.
    const std::string untrusted = "https://localhost:" + std::to_string(server.roguePort) + "/";
    EXPECT_FALSE(FetchManifest(client, untrusted, answer));
    EXPECT_EQ(answer.code, "transfer_failed") << answer.number;
}

TEST_F(VerifyFetch, AManifestPastItsLifetimeIsAskedAgainAndTheFreshAnswerJudgedInFull) {
    const struct {
        const char* again;  // Age, then max-age of the second answer
        const char* line;
    } cases[] = {
        {"0/60", "PASS manifest caching: asked again: Cache-Control: max-age=60: kept at most"},
        {"0/3600", "FAIL manifest caching: asked again: Cache-Control: max-age=3600: caches may"},
        {"61/60", "FAIL manifest caching: served 61 s old (Age: 61)"},
    };
    for (const auto& c : cases) {
        // Its own key each run: the server answers each key's first request as the stale one.
        const std::string base = "/refreshed/" + std::string(c.again) + "/verify-" +
                                 std::to_string(getpid()) + "-" + std::to_string(&c - cases);
        std::ostringstream out;
        const VerifyRequest request{Url(base), std::string(128, '0'), server.caFile, 0, ""};
        EXPECT_FALSE(VerifyServedTree(request, out)) << "no key signed it";
        EXPECT_NE(out.str().find(c.line), std::string::npos) << c.again << ":\n" << out.str();
        EXPECT_EQ(Logged(server, base + "/api/updates/manifest").size(), 2u) << c.again;
    }
}

TEST_F(VerifyFetch, AsksWithTheInstallersAgentAndNoHeadersOfItsOwn) {
    ServedFile answer;
    ASSERT_TRUE(FetchManifest(client, Url("/body/17?verify-agent"), answer)) << answer.code;
    const auto requests = Logged(server, "/body/17?verify-agent");
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0]["method"], "GET");
    EXPECT_EQ(requests[0]["user_agent"], "VarnokClientSetup/1.0");
    EXPECT_EQ(requests[0]["headers"], nlohmann::json({"host", "user-agent"}));
}

TEST_F(VerifyFetch, PayloadIsHeldToItsSizeAndDigest) {
    // The pattern body the fault server sends, hashed here.
    std::string body;
    for (uint64_t i = 0; i < 100000; ++i)
        body.push_back(static_cast<char>(((i * 131) ^ (i >> 8)) & 0xFF));
    Sha256Hasher hasher;
    hasher.Open();
    hasher.Update(body.data(), body.size());
    const std::string digest = hasher.FinishHex();

    ServedFile answer;
    EXPECT_TRUE(FetchPayload(client, Url("/body/100000"), 100000, digest, answer)) << answer.code;
    EXPECT_EQ(answer.sha256, digest);
    EXPECT_FALSE(FetchPayload(client, Url("/body/100000?flip=500"), 100000, digest, answer));
    EXPECT_EQ(answer.code, "sha256_mismatch");
    EXPECT_FALSE(FetchPayload(client, Url("/body/100000"), 99999, digest, answer));
    EXPECT_EQ(answer.code, "size_exceeded");
    EXPECT_LE(answer.bytes, 100000u);
    EXPECT_FALSE(FetchPayload(client, Url("/body/100000"), 100001, digest, answer));
    EXPECT_EQ(answer.code, "size_mismatch");
    EXPECT_FALSE(FetchPayload(client, Url("/cut/100000/50000"), 100000, digest, answer));
    EXPECT_FALSE(answer.code.empty());
}

// --- a whole tree behind a CDN, the installer beside it
// --------------------------------------------

// What the bucket serves: each key's bytes and the headers the CDN passes on.
struct Served {
    std::string bytes;
    std::string contentType, cacheControl;  // empty: not sent
};
using ServedTree = std::map<std::string, Served>;

struct TreeCase {
    const char* what;
    std::function<void(ServedTree&)> slip;
    std::vector<const char*> lines;  // each in the output
    const char* version = "2.0.0";   // --installer-version
};

TEST_F(VerifyFetch, TheInstallerHoldsOnlyWithTheDigestBesideItAndTheServedPathsHeaders) {
    ScratchDir dir;
    std::string error, payload;
    // Published now: verify judges it by the clock, as installers do.
    WriteFileBytes(dir / "client.exe", ClientBytes(70000, 1));
    ASSERT_TRUE(PublishClient(
        {kDevPemPath, dir.Utf8("client.exe"), "2.0.0", 2, dir.Utf8("tree"), UnixNow(), UnixNow()},
        error, &payload))
        << error;
    const std::string installer = ClientBytes(66000, 3);
    ServedTree good;
    const auto put = [&](const std::string& key, const std::string& bytes) {
        const ServedPath* row = ServedPathFor("/" + key);
        ASSERT_NE(row, nullptr) << key;
        good[key] = {bytes, row->contentType, row->cacheControl};
    };
    put("api/updates/manifest", ReadFileBytes(dir.Utf8("tree/api/updates/manifest")));
    put("api/updates/files/" + payload,
        ReadFileBytes(dir.Utf8("tree/api/updates/files/" + payload)));
    put("VarnokClientSetup.exe", installer);
    put("VarnokClientSetup-2.0.0.exe", installer);
    put("VarnokClientSetup.exe.sha256", Sha256Of(installer) + "  VarnokClientSetup.exe\n");
    const std::string named = Sha256Of(installer);
    const std::string other = Sha256Of(ClientBytes(66000, 4));

    const std::vector<TreeCase> cases = {
        {"the tree as publish and release leave it, served as the table says",
         [](ServedTree&) {},
         {"PASS installer digest: ", "names ",
          "PASS installer digest headers: Content-Type: "
          "text/plain, Cache-Control: no-store: as the served-paths table gives",
          "PASS installer: ", "PASS installer headers: ", "PASS versioned installer: ",
          "PASS versioned installer headers: "}},
        {"the same headers spelt and ordered otherwise",
         [](ServedTree& t) {
             t["VarnokClientSetup.exe"].contentType = "Application/Octet-Stream; charset=binary";
             t["VarnokClientSetup.exe"].cacheControl = "max-age=60,  Public";
         },
         {"PASS installer headers: "}},
        {"a digest naming other bytes",
         [&](ServedTree& t) {
             t["VarnokClientSetup.exe.sha256"].bytes = other + "  VarnokClientSetup.exe\n";
         },
         {"FAIL installer: ", "but VarnokClientSetup.exe.sha256 names ",
          "FAIL versioned installer: "}},
        {"a digest for another file name (sha256sum -c would look for that one)",
         [&](ServedTree& t) {
             t["VarnokClientSetup.exe.sha256"].bytes = named + "  varnokclientsetup.exe\n";
         },
         {"FAIL installer digest: ", "is not \"<64 hex>  VarnokClientSetup.exe\"",
          "FAIL installer: ", "and no digest to hold it to"}},
        {"the installer kept a year, as if its name said what it holds",
         [](ServedTree& t) {
             t["VarnokClientSetup.exe"].cacheControl = "public, max-age=31536000, immutable";
         },
         {"FAIL installer headers: Content-Type: application/octet-stream, Cache-Control: "
          "public, max-age=31536000, immutable: the served-paths table gives "
          "/VarnokClientSetup.exe Content-Type: application/octet-stream, Cache-Control: public, "
          "max-age=60"}},
        {"the digest without a Content-Type",
         [](ServedTree& t) { t["VarnokClientSetup.exe.sha256"].contentType.clear(); },
         {"FAIL installer digest headers: no Content-Type header, Cache-Control: no-store"}},
        {"a version that is no name the server serves",
         [](ServedTree&) {},
         {"FAIL versioned installer: ", "\"../VarnokClientSetup\" is no version of three numbers"},
         "../VarnokClientSetup"},
        {"no versioned copy",
         [](ServedTree& t) { t.erase("VarnokClientSetup-2.0.0.exe"); },
         {"FAIL versioned installer: ", "/VarnokClientSetup-2.0.0.exe: http_404"}},
        {"the versioned copy served as the stable name is",
         [](ServedTree& t) {
             t["VarnokClientSetup-2.0.0.exe"].cacheControl = "public, max-age=60";
         },
         {"FAIL versioned installer headers: "}},
        {"the versioned copy of another build",
         [](ServedTree& t) { t["VarnokClientSetup-2.0.0.exe"].bytes = ClientBytes(66000, 4); },
         {"FAIL versioned installer: "}},
    };
    const std::string plain =
        "http://127.0.0.1:" +
        std::to_string(nlohmann::json::parse(ReadFileBytes(std::getenv("VARNOK_TEST_SERVERS")))
                           .at("fault")
                           .at("plain_port")
                           .get<int>());
    for (const TreeCase& c : cases) {
        const std::string bucket =
            "verify-" + std::to_string(getpid()) + "-" + std::to_string(&c - cases.data());
        ServedTree tree = good;
        c.slip(tree);
        for (const auto& [key, served] : tree) {
            // "Content-Type:" alone keeps curl from sending one of its own.
            std::vector<std::string> headers = {"Content-Type:" + served.contentType};
            if (!served.cacheControl.empty())
                headers.push_back("Cache-Control: " + served.cacheControl);
            ASSERT_EQ(Ask(plain + "/s3-seed/" + bucket + "/" + key, &served.bytes, headers).status,
                      200);
        }
        const ToolRun run = RunTool(dir, "verify " + Url("/site/" + bucket) + " --pub " +
                                             DevPublicHex() + " --ca-file " + Quote(server.caFile) +
                                             " --installer-version " + c.version);
        const bool good = std::string(c.lines.front()).rfind("PASS", 0) == 0;
        EXPECT_EQ(run.exitCode, good ? 0 : 1) << c.what << ":\n" << run.out << run.err;
        for (const char* line : c.lines)
            EXPECT_NE(run.out.find(line), std::string::npos)
                << c.what << ": no \"" << line << "\" in\n"
                << run.out;
        // Only the slip fails: the manifest and the payload still hold.
        EXPECT_NE(run.out.find("PASS payload caching: "), std::string::npos) << run.out;
    }
}

}  // namespace
