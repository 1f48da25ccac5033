// What push stores and where: the served-path table against the nginx origin's own file, and the
// bucket addresses it signs requests for.
#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <regex>
#include <sstream>

#include "tools/s3.h"
#include "tools/served_paths.h"

using Headers = std::pair<std::string, std::string>;  // Content-Type, Cache-Control

TEST(ServedPaths, NginxServesEveryLocationWithTheTablesHeaders) {
    std::ifstream in(VARNOK_SOURCE_DIR "/tools/nginx-updates-paths.conf");
    std::stringstream file;
    file << in.rdbuf();
    const std::string text = std::regex_replace(file.str(), std::regex("#[^\n]*"), "");
    std::smatch m;
    ASSERT_TRUE(std::regex_search(text, m, std::regex(R"(\ndefault_type\s+([^;]+);)")));
    const std::string fileDefault = m[1];
    std::map<std::string, Headers> nginx, table;
    const std::regex location(R"(location\s+([^{@]+?)\s*\{([^}]*)\})");
    for (auto it = std::sregex_iterator(text.begin(), text.end(), location);
         it != std::sregex_iterator(); ++it) {
        const std::string body = (*it)[2];
        if (body.find("return ") != std::string::npos) continue;  // not served
        std::smatch type, cache;
        std::regex_search(body, type, std::regex(R"(default_type\s+([^;]+);)"));
        std::regex_search(body, cache, std::regex(R"re(add_header\s+Cache-Control\s+"([^"]*)")re"));
        nginx[(*it)[1]] = {type.empty() ? fileDefault : type[1].str(), cache[1]};
    }
    for (const ServedPath& row : kServedPaths)
        table[row.location] = {row.contentType, row.cacheControl};
    EXPECT_EQ(nginx, table);
}

TEST(ServedPaths, OnlyWhatTheServerServesHasARow) {
    const std::pair<const char*, const char*> rows[] = {
        {"/api/updates/manifest", "= /api/updates/manifest"},
        {"/api/updates/files/VarnokClient-1.0.0-0123456789abcdef.exe", "/api/updates/files/"},
        {"/VarnokClientSetup-12.0.3.exe", "~ ^/VarnokClientSetup-[0-9]+\\.[0-9]+\\.[0-9]+\\.exe$"},
        {"/VarnokClientSetup.exe", "= /VarnokClientSetup.exe"},
        {"/VarnokClientSetup.exe.sha256", "= /VarnokClientSetup.exe.sha256"},
        {"/api/updates/history.json", nullptr},
        {"/api/updates/.publish.lock", nullptr},
        {"/api/updates/files/.VarnokClient.exe.part", nullptr},
        {"/api/updates/files/", nullptr},
        {"/api/updates/files/a/b.exe", nullptr},
        {"/api/updates/files/../manifest", nullptr},
        {"/VarnokClientSetup-1.2.exe", nullptr},
        {"/VarnokClientSetup-1.2.3.exe.part", nullptr},
        {"api/updates/manifest", nullptr},
    };
    for (const auto& [path, location] : rows) {
        const ServedPath* row = ServedPathFor(path);
        EXPECT_EQ(row ? std::string(row->location) : "none", location ? location : "none") << path;
    }
}

TEST(S3Target, AddressesTheBucketPathStyleOrAsAHostAndRefusesWhatNeedsEscaping) {
    const struct {
        const char* to;
        const char* endpoint;
        bool virtualHost;
        const char* url;  // of the key "k", or nullptr when refused
    } rows[] = {
        {"s3://updates", "https://s3.example.com", false, "https://s3.example.com/updates/k"},
        {"s3://updates/a/b/", "http://127.0.0.1:9000/", false,
         "http://127.0.0.1:9000/updates/a/b/k"},
        {"s3://up.dates/v1", "https://r2.example", true, "https://up.dates.r2.example/v1/k"},
        {"s3://Updates", "https://s3.example.com", false, nullptr},
        {"s3://updates/a//b", "https://s3.example.com", false, nullptr},
        {"s3://updates/.hidden", "https://s3.example.com", false, nullptr},
        {"s3://updates/a b", "https://s3.example.com", false, nullptr},
        {"updates", "https://s3.example.com", false, nullptr},
        {"s3://updates", "ftp://s3.example.com", false, nullptr},
        {"s3://updates", "https://s3.example.com/path", false, nullptr},
    };
    for (const auto& row : rows) {
        S3Target target;
        target.virtualHost = row.virtualHost;
        std::string error;
        const bool parsed = ParseS3Target(row.to, row.endpoint, target, error);
        EXPECT_EQ(parsed ? ObjectUrl(target, "k") : "refused", row.url ? row.url : "refused")
            << row.to << " " << error;
    }
}
