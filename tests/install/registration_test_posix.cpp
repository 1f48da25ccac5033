// On the host the stand-in store is a folder tree: a file where a key's folder is needed makes
// that key unwritable, and every other value is still written. Shortcuts are freedesktop entries.
#include <gtest/gtest.h>

#include "common/scoped_override.h"
#include "install/registration.h"
#include "tests/install/stored_value.h"
#include "tests/support/scratch.h"

namespace {

std::filesystem::path g_root;
std::filesystem::path Root() {
    return g_root;
}

}  // namespace

TEST(RegistrationFailure, ABlockedKeyLosesOnlyItsOwnValues) {
    ScratchDir scratch;
    g_root = scratch.path() / "HKEY_CURRENT_USER";
    ScopedOverride<StandInRegistryRootFn> root(g_standInRegistryRoot, &Root);
    WriteFileBytes(g_root / "Software" / "Classes" / "morvanta" / "DefaultIcon", "not a key");

    RegisterClient(u"/opt/varnok", u"/opt/varnok/VarnokClient.exe", u"/opt/varnok/Uninstall.exe",
                   "1.0.0", 0);
    const std::u16string entry =
        u"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\VarnokClient";
    for (const char16_t* name :
         {u"DisplayName", u"Publisher", u"DisplayVersion", u"DisplayIcon", u"InstallLocation",
          u"UninstallString", u"QuietUninstallString", u"NoModify", u"NoRepair", u"EstimatedSize"})
        EXPECT_TRUE(ReadStoredValue(entry, name).has_value());
    EXPECT_TRUE(ReadStoredValue(u"Software\\Classes\\morvanta", u"URL Protocol").has_value());
    EXPECT_FALSE(ReadStoredValue(u"Software\\Classes\\morvanta\\DefaultIcon", u"").has_value());
    // The value after the blocked one is still written.
    EXPECT_TRUE(
        ReadStoredValue(u"Software\\Classes\\morvanta\\shell\\open\\command", u"").has_value());
}

TEST(Shortcut, StandInEntryCarriesTheFourPropertiesAndFailsWithoutItsFolder) {
    ScratchDir scratch;
    const auto file = scratch / "Programs" / "Varnok Client" / "Varnok Client.lnk";
    ASSERT_TRUE(CreateShortcut(file.u16string(), u"/opt/varnok/VarnokClient.exe", u"/opt/varnok",
                               u"Varnok Client"));
    EXPECT_EQ(ReadFileBytes(file),
              "[Desktop Entry]\nType=Application\nName=Varnok Client\n"
              "Exec=\"/opt/varnok/VarnokClient.exe\"\nPath=/opt/varnok\n"
              "Icon=/opt/varnok/VarnokClient.exe\n");

    WriteFileBytes(scratch / "blocker", "x");
    const auto blocked = scratch / "blocker" / "Varnok Client.lnk";
    EXPECT_FALSE(CreateShortcut(blocked.u16string(), u"/a", u"/", u"Varnok Client"));
    std::error_code ignored;
    EXPECT_FALSE(std::filesystem::exists(blocked, ignored));
}

TEST(RegisteredInstallFolder, TheStoredLocationOnlyWhenItIsALocalFolderHoldingTheClient) {
    ScratchDir scratch;
    g_root = scratch.path() / "HKEY_CURRENT_USER";
    ScopedOverride<StandInRegistryRootFn> root(g_standInRegistryRoot, &Root);
    EXPECT_EQ(RegisteredInstallLocation(), std::nullopt);

    const std::filesystem::path folder = scratch / "Games" / "VarnokClient";
    std::filesystem::create_directories(folder);
    // As Windows names it: the host reads "Z:\\x" as "/x".
    std::u16string text = u"Z:" + folder.u16string();
    for (char16_t& c : text)
        if (c == u'/') c = u'\\';
    RegisterClient(text, text + u"\\VarnokClient.exe", text + u"\\Uninstall.exe", "1.0.0", 0);
    EXPECT_EQ(RegisteredInstallLocation(), text);
    EXPECT_EQ(RegisteredInstallFolder(), std::nullopt) << "no client in it";
    WriteFileBytes(folder / "VarnokClient.exe", "MZ");
    EXPECT_EQ(RegisteredInstallFolder(), text);
    // a relative location, as a hand-edited entry may hold, is never taken
    RegisterClient(u"Games\\VarnokClient", u"x", u"y", "1.0.0", 0);
    EXPECT_EQ(RegisteredInstallLocation(), u"Games\\VarnokClient");
    EXPECT_EQ(RegisteredInstallFolder(), std::nullopt);
}
