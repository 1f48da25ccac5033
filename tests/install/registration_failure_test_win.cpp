// A value whose key cannot be opened for writing is missing afterwards; every other value is
// still written. Both blocks are documented Windows behaviour: a non-volatile key cannot be
// created below a volatile one, and a key's DACL can deny setting values.
#include <gtest/gtest.h>

#include <windows.h>
#include <sddl.h>

#include "common/handles_win.h"
#include "common/scope_exit.h"
#include "common/text_win.h"
#include "install/registration.h"
#include "tests/install/stored_value.h"

namespace {

const wchar_t kEntry[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\VarnokClient";
const wchar_t kProtocol[] = L"Software\\Classes\\morvanta";
const std::u16string kEntry16 = FromWide(kEntry);
const std::u16string kProtocol16 = FromWide(kProtocol);
const char16_t* const kEntryNames[] = {
    u"DisplayName",     u"Publisher",       u"DisplayVersion",       u"DisplayIcon",
    u"InstallLocation", u"UninstallString", u"QuietUninstallString", u"NoModify",
    u"NoRepair",        u"EstimatedSize"};

void RegisterSample() {
    RegisterClient(u"C:\\Games\\VarnokClient", u"C:\\Games\\VarnokClient\\VarnokClient.exe",
                   u"C:\\Games\\VarnokClient\\Uninstall.exe", "1.0.0", 2097152);
}

class RegistrationFailure : public ::testing::Test {
protected:
    void SetUp() override { DeleteRegistrationTrees(); }
    void TearDown() override { DeleteRegistrationTrees(); }
};

}  // namespace

TEST_F(RegistrationFailure, KeysThatCannotBeCreatedDoNotStopTheValuesAroundThem) {
    // A volatile protocol key still takes its own values, but its DefaultIcon and
    // shell\open\command subkeys (non-volatile) cannot be created below it.
    // In a fresh profile Software\Classes may not exist yet, and a volatile create would make
    // it volatile too, breaking every later protocol registration until the next restart.
    UniqueRegKey classes;
    ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\Classes", 0, nullptr,
                              REG_OPTION_NON_VOLATILE, KEY_WRITE, nullptr, classes.put(), nullptr),
              ERROR_SUCCESS);
    UniqueRegKey volatileKey;
    ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, kProtocol, 0, nullptr, REG_OPTION_VOLATILE,
                              KEY_WRITE, nullptr, volatileKey.put(), nullptr),
              ERROR_SUCCESS);
    volatileKey.reset();
    UniqueRegKey probe;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\Classes\\morvanta\\DefaultIcon", 0, nullptr,
                        REG_OPTION_NON_VOLATILE, KEY_WRITE, nullptr, probe.put(),
                        nullptr) == ERROR_SUCCESS)
        GTEST_SKIP() << "Wine created a non-volatile key below a volatile one";

    RegisterSample();
    for (const char16_t* name : kEntryNames)
        EXPECT_TRUE(ReadStoredValue(kEntry16, name).has_value()) << std::string(name, name + 3);
    EXPECT_TRUE(ReadStoredValue(kProtocol16, u"").has_value());
    EXPECT_TRUE(ReadStoredValue(kProtocol16, u"URL Protocol").has_value());
    EXPECT_FALSE(ReadStoredValue(kProtocol16 + u"\\DefaultIcon", u"").has_value());
    EXPECT_FALSE(ReadStoredValue(kProtocol16 + u"\\shell\\open\\command", u"").has_value());
}

TEST_F(RegistrationFailure, UninstallEntryDeniedByItsAclLeavesTheProtocolWritten) {
    UniqueRegKey entry;
    ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, kEntry, 0, nullptr, REG_OPTION_NON_VOLATILE,
                              KEY_ALL_ACCESS, nullptr, entry.put(), nullptr),
              ERROR_SUCCESS);
    // Everyone may do anything except set values.
    PSECURITY_DESCRIPTOR raw = nullptr;
    ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(
        L"D:(D;;0x2;;;WD)(A;;KA;;;WD)", SDDL_REVISION_1, &raw, nullptr));
    UniqueLocalMemory descriptor(raw);
    ASSERT_EQ(RegSetKeySecurity(entry.get(), DACL_SECURITY_INFORMATION, descriptor.get()),
              ERROR_SUCCESS);
    ScopeExit restore([&] {
        PSECURITY_DESCRIPTOR open = nullptr;
        if (ConvertStringSecurityDescriptorToSecurityDescriptorW(L"D:(A;;KA;;;WD)", SDDL_REVISION_1,
                                                                 &open, nullptr)) {
            UniqueLocalMemory owned(open);
            RegSetKeySecurity(entry.get(), DACL_SECURITY_INFORMATION, owned.get());
        }
    });
    UniqueRegKey probe;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, kEntry, 0, KEY_WRITE, probe.put()) == ERROR_SUCCESS)
        GTEST_SKIP() << "Wine ignores a registry key's DACL that denies KEY_SET_VALUE";

    RegisterSample();
    for (const char16_t* name : kEntryNames)
        EXPECT_FALSE(ReadStoredValue(kEntry16, name).has_value()) << std::string(name, name + 3);
    EXPECT_TRUE(ReadStoredValue(kProtocol16, u"").has_value());
    EXPECT_TRUE(ReadStoredValue(kProtocol16, u"URL Protocol").has_value());
    EXPECT_TRUE(ReadStoredValue(kProtocol16 + u"\\DefaultIcon", u"").has_value());
    EXPECT_TRUE(ReadStoredValue(kProtocol16 + u"\\shell\\open\\command", u"").has_value());
}
