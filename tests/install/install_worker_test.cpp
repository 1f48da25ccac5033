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
FolderCheckAnswer g_fixedWritable, g_fixedPlanted;

TEST(CreateInstallFolder, TakesAFolderOnlyFromATrustedOwnerAndMakesTheUsersOwnPrivate) {
    using enum FolderOwner;
    using std::nullopt;
    const FolderCheckAnswer yes{true, true}, no{true, false}, unreadable{false, false, 5};
    struct Case {
        const char* what;
        std::optional<FolderOwnerAnswer> owner;  // none: the system's answer
        const char* code;                        // empty: the folder is taken
        std::optional<FolderCheckAnswer> writable = nullopt, planted = nullopt;
        bool groupMayWrite = false;  // the folder as found lets its group write (host only)
        bool absent = false;         // made by the call, so nothing in it is looked at
    };
#ifdef _WIN32
    constexpr bool kModeBits = false;  // std::filesystem::permissions sets no list on Windows
#else
    constexpr bool kModeBits = true;
#endif
    const Case cases[] = {
        {"mine", nullopt, ""},
        {"made here", nullopt, "", nullopt, FolderCheckAnswer{false, false, 5}, false, true},
        {"SYSTEM's", FolderOwnerAnswer{true, System}, ""},
        {"the Administrators'", FolderOwnerAnswer{true, Administrators}, ""},
        {"on FAT", FolderOwnerAnswer{true, NoOwners}, "", yes, yes},
        {"another user's", FolderOwnerAnswer{true, OtherUser}, "folder_owned_by_other_user"},
        {"unreadable", FolderOwnerAnswer{false, CurrentUser, 5}, "folder_owner_unknown"},
        // Trusted owners whose lists let others in, and found folders holding what others put.
        {"SYSTEM's, open", FolderOwnerAnswer{true, System}, "folder_writable_by_other_user", yes},
        {"SYSTEM's, group may write", FolderOwnerAnswer{true, System},
         "folder_writable_by_other_user", nullopt, nullopt, true},
        {"Administrators', open", FolderOwnerAnswer{true, Administrators},
         "folder_writable_by_other_user", yes, no},
        {"SYSTEM's, list unreadable", FolderOwnerAnswer{true, System}, "folder_access_unknown",
         unreadable},
        {"mine, group may write", nullopt, "", nullopt, nullopt, true},
        {"mine, planted", nullopt, "folder_holds_other_users_entry", yes, yes},
        {"Administrators', planted", FolderOwnerAnswer{true, Administrators},
         "folder_holds_other_users_entry", no, yes},
        {"mine, entries unreadable", nullopt, "folder_entry_owner_unknown", no, unreadable},
    };
    ScratchDir scratch;
    uint32_t error = 0;
    // The list the file layer gives a folder it makes private.
    ASSERT_TRUE(CreateFolderTree(Utf8ToUtf16(FolderText(scratch / "new")), error,
                                 NewFolderAccess::Private));
    const std::string privateAccess = FolderAccess(scratch / "new");
    for (const Case& c : cases) {
        if (c.groupMayWrite && !kModeBits) continue;
        const std::filesystem::path folder = scratch / c.what / "VarnokClient";
        std::filesystem::create_directories(c.absent ? folder.parent_path() : folder);
        if (c.groupMayWrite) {
            std::filesystem::permissions(folder, std::filesystem::perms::group_write,
                                         std::filesystem::perm_options::add);
        }
        const std::string before = c.absent ? "" : FolderAccess(folder);
        g_fixedOwner = c.owner.value_or(FolderOwnerAnswer{});
        g_fixedWritable = c.writable.value_or(FolderCheckAnswer{});
        g_fixedPlanted = c.planted.value_or(FolderCheckAnswer{});
        const FolderOwnerFn fixed = [](const std::u16string&) { return g_fixedOwner; };
        const FolderCheckFn writable = [](const std::u16string&) { return g_fixedWritable; };
        const FolderCheckFn planted = [](const std::u16string&) { return g_fixedPlanted; };
        ScopedOverride<FolderOwnerFn> owner(g_folderOwner, c.owner ? fixed : g_folderOwner);
        ScopedOverride<FolderCheckFn> open(g_folderWritableByOthers,
                                           c.writable ? writable : g_folderWritableByOthers);
        ScopedOverride<FolderCheckFn> holds(g_folderHoldsOthersEntry,
                                            c.planted ? planted : g_folderHoldsOthersEntry);
        Failure failure;
        EXPECT_EQ(CreateInstallFolder(Utf8ToUtf16(FolderText(folder)), failure), !*c.code)
            << c.what;
        EXPECT_EQ(failure.code, c.code) << c.what;
        const uint32_t number = g_fixedOwner.error | g_fixedWritable.error | g_fixedPlanted.error;
        EXPECT_EQ(failure.number, *c.code ? number : 0) << c.what;
        // A refused folder, and one whose owner is not the user, keep their list; the user's own
        // is made private.
        const bool madePrivate = !c.owner && !*c.code;
        if (!madePrivate || !RunningUnderWine()) {  // see below
            EXPECT_EQ(FolderAccess(folder), madePrivate ? privateAccess : before) << c.what;
        }
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
