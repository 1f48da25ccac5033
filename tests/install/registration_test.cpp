// The registration values: the table itself, and what lands in the platform's store (the real
// HKEY_CURRENT_USER under Wine, the stand-in files on the host build).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/path.h"
#include "common/scoped_override.h"
#include "install/registration.h"
#include "tests/install/stored_value.h"
#include "tests/support/scratch.h"

namespace {

const std::u16string kEntry =
    u"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\VarnokClient";
const std::u16string kProtocol = u"Software\\Classes\\morvanta";
const std::u16string kProtocolIcon = u"Software\\Classes\\morvanta\\DefaultIcon";
const std::u16string kProtocolCommand = u"Software\\Classes\\morvanta\\shell\\open\\command";

std::u16string TextOf(const std::vector<std::uint8_t>& data) {
    std::u16string text;
    for (size_t i = 0; i + 1 < data.size(); i += 2)
        text.push_back(static_cast<char16_t>(data[i] | (data[i + 1] << 8)));
    return text;
}

std::uint32_t DwordOf(const std::vector<std::uint8_t>& data) {
    if (data.size() != 4) return 0xDEADBEEF;
    return data[0] | (data[1] << 8) | (data[2] << 16) | (static_cast<std::uint32_t>(data[3]) << 24);
}

struct Expected {
    std::u16string key;
    std::u16string name;
    std::uint32_t type;
    std::u16string text;   // REG_SZ data without the terminating zero
    std::uint32_t number;  // REG_DWORD data
};

// Every value for one install, spelled out independently of the code that builds them.
std::vector<Expected> ExpectedValues(const std::u16string& folder, const std::u16string& version,
                                     std::uint32_t sizeKiB) {
    const std::u16string exe = folder + u"\\VarnokClient.exe";
    return {
        {kEntry, u"DisplayName", 1, u"Varnok Client", 0},
        {kEntry, u"Publisher", 1, u"Dravolt", 0},
        {kEntry, u"DisplayVersion", 1, version, 0},
        {kEntry, u"DisplayIcon", 1, exe + u",0", 0},
        {kEntry, u"InstallLocation", 1, folder, 0},
        {kEntry, u"UninstallString", 1, u"\"" + folder + u"\\Uninstall.exe\" --uninstall", 0},
        {kEntry, u"QuietUninstallString", 1,
         u"\"" + folder + u"\\Uninstall.exe\" --uninstall --silent", 0},
        {kEntry, u"NoModify", 4, u"", 1},
        {kEntry, u"NoRepair", 4, u"", 1},
        {kEntry, u"EstimatedSize", 4, u"", sizeKiB},
        {kProtocol, u"", 1, u"URL:Varnok Client Protocol", 0},
        {kProtocol, u"URL Protocol", 1, u"", 0},
        {kProtocolIcon, u"", 1, exe + u",0", 0},
        {kProtocolCommand, u"", 1, u"\"" + exe + u"\" \"%1\"", 0},
    };
}

void ExpectValueStored(const Expected& e) {
    SCOPED_TRACE(std::string(e.name.begin(), e.name.end()));
    const auto stored = ReadStoredValue(e.key, e.name);
    ASSERT_TRUE(stored.has_value());
    EXPECT_EQ(stored->type, e.type);
    if (e.type == 1) {
        // Stored with the terminating zero: (units + 1) * 2 bytes.
        EXPECT_EQ(stored->data.size(), (e.text.size() + 1) * 2);
        ASSERT_GE(stored->data.size(), 2u);
        EXPECT_EQ(stored->data[stored->data.size() - 1], 0);
        EXPECT_EQ(stored->data[stored->data.size() - 2], 0);
        EXPECT_EQ(TextOf(stored->data), e.text + u'\0');
    } else {
        EXPECT_EQ(stored->data.size(), 4u);
        EXPECT_EQ(DwordOf(stored->data), e.number);
    }
}

std::u16string Register(const std::u16string& folder, const std::string& version,
                        std::uint64_t bytes) {
    RegisterClient(folder, JoinPath(folder, u"VarnokClient.exe"),
                   JoinPath(folder, u"Uninstall.exe"), version, bytes);
    return folder;
}

#ifndef _WIN32
std::filesystem::path g_testRoot;
std::filesystem::path TestRoot() {
    return g_testRoot;
}
#endif

// Both trees are cleared before and after every test, so no test depends on another's leftovers.
class RegistrationStore : public ::testing::Test {
protected:
    void SetUp() override {
#ifndef _WIN32
        g_testRoot = scratch_.path() / "HKEY_CURRENT_USER";
#endif
        DeleteRegistrationTrees();
    }
    void TearDown() override {
        DeleteRegistrationTrees();
    }

    ScratchDir scratch_;
#ifndef _WIN32
    ScopedOverride<StandInRegistryRootFn> root_{g_standInRegistryRoot, &TestRoot};
#endif
};

}  // namespace

TEST(RegistrationTable, ListsEveryValueInOrderWithExactTypesTextsAndByteCounts) {
    const auto writes = BuildRegistrationWrites(
        u"C:\\Games\\VarnokClient", u"C:\\Games\\VarnokClient\\VarnokClient.exe",
        u"C:\\Games\\VarnokClient\\Uninstall.exe", "2.4.0", 52428800);
    const auto expected = ExpectedValues(u"C:\\Games\\VarnokClient", u"2.4.0", 51200);
    ASSERT_EQ(writes.size(), expected.size());
    for (size_t i = 0; i < writes.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(writes[i].key, expected[i].key);
        EXPECT_EQ(writes[i].name, expected[i].name);
        EXPECT_EQ(writes[i].type, expected[i].type);
        if (expected[i].type == 1)
            EXPECT_EQ(TextOf(writes[i].data), expected[i].text + u'\0');
        else
            EXPECT_EQ(DwordOf(writes[i].data), expected[i].number);
    }
    // A few byte counts written out: "Varnok Client" is 13 units, the empty text only its zero.
    EXPECT_EQ(writes[0].data.size(), 28u);
    EXPECT_EQ(writes[11].data, (std::vector<std::uint8_t>{0, 0}));
    EXPECT_EQ(TextOf(writes[5].data),
              std::u16string(u"\"C:\\Games\\VarnokClient\\Uninstall.exe\" --uninstall") + u'\0');
    EXPECT_EQ(TextOf(writes[3].data),
              std::u16string(u"C:\\Games\\VarnokClient\\VarnokClient.exe,0") + u'\0');
    EXPECT_EQ(writes[7].data, (std::vector<std::uint8_t>{1, 0, 0, 0}));
}

TEST(RegistrationTable, EmptyVersionFallsBackTo101AndUtf8VersionIsConverted) {
    const auto empty = BuildRegistrationWrites(u"C:\\V", u"C:\\V\\VarnokClient.exe",
                                               u"C:\\V\\Uninstall.exe", "", 0);
    EXPECT_EQ(TextOf(empty[2].data), std::u16string(u"1.0.1") + u'\0');
    const auto beta = BuildRegistrationWrites(u"C:\\V", u"C:\\V\\VarnokClient.exe",
                                              u"C:\\V\\Uninstall.exe", "1.2.0-\xCE\xB2", 0);
    EXPECT_EQ(TextOf(beta[2].data), std::u16string(u"1.2.0-\u03B2") + u'\0');
    EXPECT_EQ(beta[2].data.size(), 16u);
}

TEST(RegistrationTable, EstimatedSizeIsWholeKibibytesButNeverBelow1024) {
    EXPECT_EQ(EstimatedSizeKiB(0), 1024u);
    EXPECT_EQ(EstimatedSizeKiB(500000), 1024u);
    EXPECT_EQ(EstimatedSizeKiB(1049599), 1024u);
    EXPECT_EQ(EstimatedSizeKiB(1049600), 1025u);
    EXPECT_EQ(EstimatedSizeKiB(10485760), 10240u);
    // Beyond what a DWORD holds the value saturates instead of wrapping to a small size.
    EXPECT_EQ(EstimatedSizeKiB(0xFFFFFFFFull * 1024 + 1023), 0xFFFFFFFFu);
    EXPECT_EQ(EstimatedSizeKiB(0xFFFFFFFFull * 1024 + 1024), 0xFFFFFFFFu);
    EXPECT_EQ(EstimatedSizeKiB(UINT64_MAX), 0xFFFFFFFFu);
}

class RegistrationFolders : public RegistrationStore,
                            public ::testing::WithParamInterface<const char16_t*> {};

TEST_P(RegistrationFolders, EveryValueReadsBackWithTypeByteCountAndData) {
    const std::u16string folder = Register(GetParam(), "3.1.4", 7340032);
    for (const Expected& e : ExpectedValues(folder, u"3.1.4", 7168)) ExpectValueStored(e);
}

std::string FolderCaseName(const ::testing::TestParamInfo<const char16_t*>& info) {
    static const char* const kNames[] = {"Plain", "WithSpaces", "NonAscii"};
    return kNames[info.index];
}

INSTANTIATE_TEST_SUITE_P(Folders, RegistrationFolders,
                         ::testing::Values(u"C:\\Games\\VarnokClient",
                                           u"C:\\Program Files Test\\My Varnok Client",
                                           u"C:\\Users\\Zo\u00eb\\Spiele\\V\u00e1rnok "
                                           u"\u041a\u043b\u0438\u0435\u043d\u0442 \u6e38\u620f"),
                         FolderCaseName);

TEST_F(RegistrationStore, EstimatedSizeEdgesAreStoredAsKibibytes) {
    const std::pair<std::uint64_t, std::uint32_t> cases[] = {
        {500000, 1024}, {1049599, 1024}, {1049600, 1025}, {10485760, 10240}};
    for (const auto& [bytes, kib] : cases) {
        SCOPED_TRACE(bytes);
        Register(u"C:\\Games\\VarnokClient", "1.0.0", bytes);
        ExpectValueStored({kEntry, u"EstimatedSize", 4, u"", kib});
    }
}

TEST_F(RegistrationStore, SecondRegistrationOverwritesEveryValue) {
    Register(u"C:\\Games\\A much longer first install folder\\VarnokClient", "10.20.30-rc.1",
             104857600);
    const std::u16string second = Register(u"D:\\V", "2.0.0", 2097152);
    for (const Expected& e : ExpectedValues(second, u"2.0.0", 2048)) ExpectValueStored(e);
}
