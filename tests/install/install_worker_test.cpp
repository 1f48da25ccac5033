// The worker's own judgements: whether a folder's owner lets the client go into it, whether a
// downloaded file can be the client, and whether the running installer already is the
// uninstaller it would copy itself to.
#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "common/files.h"
#include "common/scoped_override.h"
#include "common/text.h"
#include "install/install_worker.h"
#include "tests/game/real_folders.h"
#include "tests/support/scratch.h"

namespace {

FolderOwnerAnswer g_fixedOwner;

TEST(CreateInstallFolder, TakesAFolderOnlyFromATrustedOwnerAndMakesTheUsersOwnPrivate) {
    struct Case {
        const char* what;
        bool existing;
        std::optional<FolderOwnerAnswer> owner;  // none: the system's answer
        const char* code;
        uint32_t number;
        bool madePrivate;
    };
    using enum FolderOwner;
    const Case cases[] = {
        {"made now", false, std::nullopt, "", 0, true},
        {"mine", true, std::nullopt, "", 0, true},
        {"SYSTEM's", true, FolderOwnerAnswer{true, System, 0}, "", 0, false},
        {"the Administrators'", true, FolderOwnerAnswer{true, Administrators, 0}, "", 0, false},
        {"on FAT", true, FolderOwnerAnswer{true, NoOwners, 0}, "", 0, false},
        {"another user's", true, FolderOwnerAnswer{true, OtherUser, 0},
         "folder_owned_by_other_user", 0, false},
        {"unreadable", true, FolderOwnerAnswer{false, CurrentUser, 5}, "folder_owner_unknown", 5,
         false},
    };
    ScratchDir scratch;
    uint32_t error = 0;
    // What the file layer gives a folder it makes private, the list every row is held to.
    ASSERT_TRUE(CreateFolderTree(Utf8ToUtf16(FolderText(scratch / "new")), error,
                                 NewFolderAccess::Private));
    const std::string privateAccess = FolderAccess(scratch / "new");
    for (const Case& c : cases) {
        const std::filesystem::path folder = scratch / c.what / "VarnokClient";
        if (c.existing) std::filesystem::create_directories(folder);
        const std::string before = FolderAccess(folder);
        g_fixedOwner = c.owner.value_or(FolderOwnerAnswer{});
        const FolderOwnerFn fixed = [](const std::u16string&) { return g_fixedOwner; };
        ScopedOverride<FolderOwnerFn> owner(g_folderOwner, c.owner ? fixed : g_folderOwner);
        Failure failure;
        EXPECT_EQ(CreateInstallFolder(Utf8ToUtf16(FolderText(folder)), failure), !*c.code)
            << c.what;
        EXPECT_EQ(failure.code, c.code) << c.what;
        EXPECT_EQ(failure.number, c.number) << c.what;
        if (c.existing && c.madePrivate && RunningUnderWine()) continue;  // see below
        EXPECT_EQ(FolderAccess(folder), c.madePrivate ? privateAccess : before) << c.what;
    }
    if (RunningUnderWine())
        GTEST_SKIP() << "Wine merges the parent's inheritable entries into a list set as "
                        "protected on a folder that exists, so a found folder of the user's "
                        "never shows the list a new one gets";
}

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
