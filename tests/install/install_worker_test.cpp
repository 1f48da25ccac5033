// The worker's own two judgements: whether a downloaded file can be the client, and whether the
// running installer already is the uninstaller it would copy itself to.
#include <gtest/gtest.h>

#include <string>

#include "install/install_worker.h"

namespace {

TEST(LooksLikeClientExe, NeedsMzAndAtLeast64KiBAnnounced) {
    struct Case {
        std::string head;
        uint64_t size;
        bool expected;
    };
    const Case cases[] = {
        {"MZ", 65536, true},  {"MZ", 10485760, true}, {"MZ", 65535, false},
        {"ZM", 65536, false}, {"mz", 65536, false},   {"M", 65536, false},
        {"", 65536, false},   {"PK", 65536, false},   {std::string("\0\0", 2), 65536, false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(LooksLikeClientExe(c.head, c.size), c.expected) << c.head << " " << c.size;
}

TEST(SamePathLexically, FoldsSeparatorsAndNothingElse) {
    struct Case {
        std::u16string a, b;
        bool expected;
    };
    const Case cases[] = {
        {u"C:\\Games\\VarnokClient\\Uninstall.exe", u"C:\\Games\\VarnokClient\\Uninstall.exe",
         true},
        {u"C:/Games/VarnokClient/Uninstall.exe", u"C:\\Games\\VarnokClient\\Uninstall.exe", true},
        {u"C:\\\\Games//\\VarnokClient\\Uninstall.exe", u"C:\\Games/VarnokClient/Uninstall.exe",
         true},
        {u"c:\\Games\\VarnokClient\\Uninstall.exe", u"C:\\Games\\VarnokClient\\Uninstall.exe",
         false},  // case counts
        {u"C:\\Games\\VarnokClient\\uninstall.exe", u"C:\\Games\\VarnokClient\\Uninstall.exe",
         false},
        {u"C:\\Games\\VarnokClient\\Uninstall.exe\\", u"C:\\Games\\VarnokClient\\Uninstall.exe",
         false},
        {u"C:\\Games\\VarnokClient", u"C:\\Games\\VarnokClient\\Uninstall.exe", false},
        {u"C:\\Down\\VarnokClientSetup.exe", u"C:\\Games\\VarnokClient\\Uninstall.exe", false},
        {u"", u"", true},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(SamePathLexically(c.a, c.b), c.expected);
        EXPECT_EQ(SamePathLexically(c.b, c.a), c.expected);
    }
}

}  // namespace
