#include <gtest/gtest.h>

#include "common/build_info.h"
#include "common/path.h"

TEST(JoinPath, InsertsOneBackslashUnlessTheFolderEndsInASeparator) {
    EXPECT_EQ(JoinPath(u"C:\\Games", u"VarnokClient"), u"C:\\Games\\VarnokClient");
    EXPECT_EQ(JoinPath(u"C:\\", u"VarnokClient"), u"C:\\VarnokClient");
    EXPECT_EQ(JoinPath(u"C:/Games/", u"a.exe"), u"C:/Games/a.exe");
    EXPECT_EQ(JoinPath(u"", u"a.exe"), u"a.exe");
}

TEST(BuildInfo, BaseUrlIsAnHttpsOriginAndTheKeyIs128LowerHexDigits) {
    const std::string_view url = BuiltInWebBaseUrl();
    EXPECT_EQ(url.substr(0, 8), "https://");
    EXPECT_NE(url.back(), '/');
    EXPECT_EQ(url.find('/', 8), std::string_view::npos);
    const std::string_view key = BuiltInManifestPublicKey();
    ASSERT_EQ(key.size(), 128u);
    for (char c : key) EXPECT_TRUE((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f')) << c;
}
