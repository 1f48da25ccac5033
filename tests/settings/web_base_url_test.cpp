#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "common/build_info.h"
#include "settings/web_base_url.h"

namespace {

const std::string kBuiltIn(BuiltInWebBaseUrl());

std::string Parsed(std::string_view text) {
    const auto url = ParseHttpUrl(text);
    if (!url) return "none";
    return url->scheme + " " + url->host + " " + std::to_string(url->port);
}

}  // namespace

TEST(ParseHttpUrl, TakesSchemeHostAndPortLowerCasedWithTheSchemesDefaultPort) {
    EXPECT_EQ(Parsed("https://srv"), "https srv 443");
    EXPECT_EQ(Parsed("http://srv"), "http srv 80");
    EXPECT_EQ(Parsed("HTTPS://Srv-01.Example:8443/Api/v1?x#y"), "https srv-01.example 8443");
    EXPECT_EQ(Parsed("hTtP://LOCALHOST:08080"), "http localhost 8080");
    EXPECT_EQ(Parsed("https://srv:65535"), "https srv 65535");
    EXPECT_EQ(Parsed("https://srv:1"), "https srv 1");
    EXPECT_EQ(Parsed("https://srv?q"), "https srv 443");
    EXPECT_EQ(Parsed("https://srv#f"), "https srv 443");
    EXPECT_EQ(Parsed("https://10.0.0.5"), "https 10.0.0.5 443");
    EXPECT_EQ(Parsed("https://a.b-c.d"), "https a.b-c.d 443");
}

TEST(ParseHttpUrl, RefusesOtherSchemesAndBrokenAuthorities) {
    for (const char* text : {"",
                             "ftp://srv",
                             "://srv",
                             "https:/srv",
                             "https//srv",
                             "https://",
                             "https:///path",
                             "https://?x",
                             "https://user@srv",
                             "https://srv\\x",
                             "https://ho_st",
                             "https://-srv",
                             "https://srv-",
                             "https://.srv",
                             "https://srv.",
                             "https://a..b",
                             "https://srv:",
                             "https://:443",
                             "https://srv:0",
                             "https://srv:65536",
                             "https://srv:123456",
                             "https://srv:8a",
                             "https://srv:+80",
                             "https://srv:80:81",
                             "https://sr v",
                             "https://srv/a b",
                             "https://srv/\x7F",
                             "https://srv/\t",
                             "https://s\xC3\xA9rv",
                             "httpss://srv",
                             "http s://srv",
                             " https://srv"}) {
        EXPECT_EQ(Parsed(text), "none") << '"' << text << '"';
    }
}

TEST(ParseHttpUrl, HostLengthIsAtMost253) {
    std::string host;
    while (host.size() < 253) host += host.size() % 10 == 9 ? '.' : 'a';
    host.back() = 'b';
    EXPECT_EQ(Parsed("https://" + host), "https " + host + " 443");
    EXPECT_EQ(Parsed("https://" + host + "c"), "none");
}

TEST(ParseHttpUrl, TextLengthIsAtMost4096Bytes) {
    const std::string base = "https://srv/";
    const std::string at = base + std::string(4096 - base.size(), 'p');
    EXPECT_EQ(Parsed(at), "https srv 443");
    EXPECT_EQ(Parsed(at + "p"), "none");
}

TEST(ParseHttpUrl, BracketedHostsAreHexAndColonsOnlyWithAnOptionalPort) {
    EXPECT_EQ(Parsed("http://[::1]:8080"), "http [::1] 8080");
    EXPECT_EQ(Parsed("https://[FE80::AB:1]/x"), "https [fe80::ab:1] 443");
    EXPECT_EQ(Parsed("https://[:]"), "https [:] 443");
    for (const char* text : {"https://[]", "https://[::1", "https://[::ffff:1.2.3.4]",
                             "https://[::1]x", "https://[::1]:", "https://[::1]:0", "https://[::g]",
                             "https://[::1]:80:80", "https://[::1]]"}) {
        EXPECT_EQ(Parsed(text), "none") << text;
    }
}

TEST(IsLoopbackHost, KnowsExactlyThreeForms) {
    EXPECT_TRUE(IsLoopbackHost("localhost"));
    EXPECT_TRUE(IsLoopbackHost("LocalHost"));
    EXPECT_TRUE(IsLoopbackHost("127.0.0.1"));
    EXPECT_TRUE(IsLoopbackHost("[::1]"));
    for (const char* host : {"127.0.0.2", "127.1", "localhost.", "[0:0:0:0:0:0:0:1]", "::1",
                             "localhost.localdomain", "", "0.0.0.0"}) {
        EXPECT_FALSE(IsLoopbackHost(host)) << host;
    }
}

TEST(UrlOrigin, NamesThePortOnlyWhenItIsNotTheDefault) {
    EXPECT_EQ(UrlOrigin({"https", "srv", 443}), "https://srv");
    EXPECT_EQ(UrlOrigin({"http", "srv", 80}), "http://srv");
    EXPECT_EQ(UrlOrigin({"https", "srv", 80}), "https://srv:80");
    EXPECT_EQ(UrlOrigin({"http", "[::1]", 443}), "http://[::1]:443");
}

TEST(NormalizeWebBaseUrl, CleansAcceptableUrls) {
    const struct {
        const char* in;
        const char* out;
    } cases[] = {
        {"  HTTPS://Srv-01:443/Api/v1/  ", "https://srv-01/Api/v1"},
        {"https://srv:8443", "https://srv:8443"},
        {"http://LOCALHOST:80/", "http://localhost"},
        {"http://127.0.0.1:3000/api", "http://127.0.0.1:3000/api"},
        {"http://[::1]:8080", "http://[::1]:8080"},
        {"https://10.0.0.5", "https://10.0.0.5"},
        {"https://srv//data", "https://srv//data"},
        {"\t\r\n\v\fhttps://srv/a/b///\n \t", "https://srv/a/b"},
        {"https://srv:08443/x", "https://srv:8443/x"},
        {"https://srv/./x", "https://srv/./x"},
        {"https://srv/a%20b", "https://srv/a%20b"},
    };
    for (const auto& c : cases) EXPECT_EQ(NormalizeWebBaseUrl(c.in), c.out) << c.in;
}

TEST(NormalizeWebBaseUrl, FallsBackToTheBuiltInUrl) {
    for (const char* text : {"",
                             "   ",
                             "///",
                             " / / ",
                             "http://10.0.0.5",
                             "http://example.com/x",
                             "http://127.0.0.2",
                             "http://localhost.",
                             "https://srv/a/../b",
                             "https://srv/a..b",
                             "https://srv/?x=1",
                             "https://srv/#top",
                             "https://srv\\path",
                             "https://user:pw@srv",
                             "ftp://srv",
                             "https://ho_st",
                             "https://-srv",
                             "https://srv:0",
                             "https://srv:65536",
                             "https://srv:123456",
                             "https://srv:",
                             "https://[::ffff:1.2.3.4]",
                             "https:///path",
                             "https://sr v/",
                             "https://srv/a b",
                             "srv",
                             "//srv"}) {
        EXPECT_EQ(NormalizeWebBaseUrl(text), kBuiltIn) << '"' << text << '"';
    }
}

TEST(NormalizeWebBaseUrl, The4096ByteLimitAppliesAfterTrimming) {
    const std::string base = "https://srv/";
    const std::string at = base + std::string(4096 - base.size(), 'p');
    EXPECT_EQ(NormalizeWebBaseUrl("   " + at + "///   "), at);
    EXPECT_EQ(NormalizeWebBaseUrl(at + "p"), kBuiltIn);
}

// Whatever goes in, what comes out is something the client can use as it is.
TEST(NormalizeWebBaseUrl, PropertiesHoldForArbitraryInput) {
    std::mt19937 random(20261209);
    const std::vector<std::string> pieces{
        "http",      "https",     "HTTP", "ftp",      "://", ":",  "/",   "//",
        "\\",        "?",         "#",    "@",        "[",   "]",  "::1", "[::1]",
        "127.0.0.1", "localhost", "srv",  "Srv",      "-",   ".",  "..",  "0",
        "80",        "443",       "8080", "65536",    " ",   "\t", "\n",  "a",
        "\xC3\xA9",  "\x7F",      "%20",  "10.0.0.5", "api", "V1"};
    std::vector<std::string> inputs{"https://srv", "http://localhost:80/x/", "  ///  "};
    for (int i = 0; i < 20000; ++i) {
        std::string text;
        const int count = static_cast<int>(random() % 9);
        for (int n = 0; n < count; ++n) text += pieces[random() % pieces.size()];
        inputs.push_back(text);
    }
    for (const auto& text : inputs) {
        const std::string out = NormalizeWebBaseUrl(text);
        ASSERT_FALSE(out.empty()) << text;
        EXPECT_NE(out.back(), '/') << text;
        EXPECT_EQ(NormalizeWebBaseUrl(out), out) << text;
        if (out == kBuiltIn) continue;
        const auto url = ParseHttpUrl(out);
        ASSERT_TRUE(url.has_value()) << text << " -> " << out;
        const std::string origin = UrlOrigin(*url);
        ASSERT_EQ(out.substr(0, origin.size()), origin) << text;
        const std::string path = out.substr(origin.size());
        EXPECT_TRUE(path.empty() || path[0] == '/') << text << " -> " << out;
        if (url->scheme == "http")
            EXPECT_TRUE(IsLoopbackHost(url->host)) << text;
        else
            EXPECT_EQ(url->scheme, "https") << text;
    }
}
