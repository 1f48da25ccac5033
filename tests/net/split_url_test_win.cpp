#include <gtest/gtest.h>

#include "net/url.h"

namespace {
UrlParts Split(const std::string& url, bool& ok) {
    UrlParts parts;
    ok = SplitUrl(url, parts);
    return parts;
}
}  // namespace

TEST(SplitUrl, HttpsWithoutPathAsksForTheRootOnPort443) {
    bool ok = false;
    const UrlParts parts = Split("https://updates.example", ok);
    ASSERT_TRUE(ok);
    EXPECT_TRUE(parts.secure);
    EXPECT_EQ(parts.host, u"updates.example");
    EXPECT_EQ(parts.port, 443);
    EXPECT_EQ(parts.path, u"/");
}

TEST(SplitUrl, HttpWithExplicitPortKeepsPortAndPath) {
    bool ok = false;
    const UrlParts parts = Split("http://updates.example:8080/x", ok);
    ASSERT_TRUE(ok);
    EXPECT_FALSE(parts.secure);
    EXPECT_EQ(parts.port, 8080);
    EXPECT_EQ(parts.path, u"/x");
}

TEST(SplitUrl, HttpDefaultsToPort80AndKeepsDoubleSlashes) {
    bool ok = false;
    const UrlParts parts = Split("http://localhost//api/updates/manifest", ok);
    ASSERT_TRUE(ok);
    EXPECT_EQ(parts.port, 80);
    EXPECT_EQ(parts.path, u"//api/updates/manifest");
}

TEST(SplitUrl, RefusesOtherSchemesTextsWithoutSchemeAndEmptyText) {
    for (const char* url : {"ftp://updates.example/file", "updates.example/file", "", "https://",
                            "file:///C:/x", "mailto:someone@example.com"}) {
        UrlParts parts;
        EXPECT_FALSE(SplitUrl(url, parts)) << url;
    }
}

TEST(SplitUrl, QueryIsSentAndFragmentIsNot) {
    bool ok = false;
    UrlParts parts = Split("https://h.example/a/b?x=1&y=2#part", ok);
    ASSERT_TRUE(ok);
    EXPECT_EQ(parts.path, u"/a/b?x=1&y=2");
    parts = Split("https://h.example#only-fragment", ok);
    ASSERT_TRUE(ok);
    EXPECT_EQ(parts.host, u"h.example");
    EXPECT_EQ(parts.path, u"/");
    parts = Split("https://h.example/p#frag?not-a-query", ok);
    ASSERT_TRUE(ok);
    EXPECT_EQ(parts.path, u"/p");
}

TEST(SplitUrl, HostOf255UnitsFitsAnd256DoesNot) {
    // A host label may be at most 63 characters; these are only as long as the buffer cares.
    std::string host255;
    while (host255.size() < 255)
        host255 += host255.empty() ? "a" : (host255.size() % 60 == 0 ? "." : "a");
    ASSERT_EQ(host255.size(), 255u);
    bool ok = false;
    const UrlParts parts = Split("https://" + host255 + "/x", ok);
    ASSERT_TRUE(ok);
    EXPECT_EQ(parts.host.size(), 255u);
    Split("https://" + host255 + "b/x", ok);
    EXPECT_FALSE(ok);
}

TEST(SplitUrl, PathOf2047UnitsFitsAnd2048DoesNot) {
    const std::string path2047 = "/" + std::string(2046, 'p');
    bool ok = false;
    const UrlParts parts = Split("https://h.example" + path2047, ok);
    ASSERT_TRUE(ok);
    EXPECT_EQ(parts.path.size(), 2047u);
    Split("https://h.example" + path2047 + "q", ok);
    EXPECT_FALSE(ok);
    // The query counts towards the path; a fragment does not.
    Split("https://h.example" + path2047 + "?", ok);
    EXPECT_FALSE(ok);
    Split("https://h.example" + path2047 + "#" + std::string(5000, 'f'), ok);
    EXPECT_TRUE(ok);
}

TEST(SplitUrl, NonAsciiHostIsKeptAsUtf16) {
    bool ok = false;
    const UrlParts parts = Split("https://bücher.example/", ok);
    ASSERT_TRUE(ok);
    EXPECT_EQ(parts.host, u"bücher.example");
}
