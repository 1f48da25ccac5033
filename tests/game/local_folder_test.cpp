#include <gtest/gtest.h>

#include <string>

#include "game/local_folder.h"
#include "tests/game/fake_file_system.h"

namespace {

// A machine with a fixed C: where every asked-for path is missing unless a test adds it.
class LocalFolderRules : public ::testing::Test {
protected:
    LocalFolderRules() : use_(fs_) {
        fs_.driveTypes[u'C'] = kDriveFixed;
        fs_.driveTypes[u'N'] = kDriveRemote;
        fs_.driveTypes[u'E'] = kDriveCdrom;
        fs_.driveTypes[u'R'] = kDriveRemovable;
    }
    FakeFileSystem fs_;
    UseFakeFileSystem use_;
};

// A text of exactly `size` bytes that passes every rule: C:\ followed by a run of letters split
// into names short enough for any file system.
std::string FolderOfSize(size_t size) {
    std::string text = "C:\\";
    while (text.size() < size) text.push_back(text.size() % 100 == 0 ? '\\' : 'a');
    if (text.back() == '\\') text.back() = 'b';
    return text;
}

}  // namespace

TEST_F(LocalFolderRules, LengthIsOneTo1024Bytes) {
    EXPECT_FALSE(IsAcceptableLocalFolder("", false));
    ASSERT_EQ(FolderOfSize(1024).size(), 1024u);
    EXPECT_TRUE(IsAcceptableLocalFolder(FolderOfSize(1024), false));
    EXPECT_FALSE(IsAcceptableLocalFolder(FolderOfSize(1025), false));
    // Bytes, not characters: 341 three-byte letters after C:\ make 1026 bytes.
    std::string wide = "C:\\";
    for (int i = 0; i < 340; ++i) wide += "\xE6\x97\xA5";
    EXPECT_EQ(wide.size(), 1023u);
    EXPECT_TRUE(IsAcceptableLocalFolder(wide, false));
    EXPECT_FALSE(IsAcceptableLocalFolder(wide + "\xE6\x97\xA5", false));
}

TEST_F(LocalFolderRules, ControlBytesAndDeleteAreRefusedSpacesAndNonAsciiAllowed) {
    EXPECT_TRUE(IsAcceptableLocalFolder("C:\\Program Files\\Game", false));
    EXPECT_FALSE(IsAcceptableLocalFolder("C:\\Program\tFiles", false));
    EXPECT_FALSE(IsAcceptableLocalFolder("C:\\Games\n", false));
    EXPECT_FALSE(IsAcceptableLocalFolder("C:\\Games\r", false));
    EXPECT_FALSE(IsAcceptableLocalFolder("C:\\Ga\x7Fmes", false));
    EXPECT_FALSE(IsAcceptableLocalFolder("C:\\Ga\x1Fmes", false));
    EXPECT_FALSE(IsAcceptableLocalFolder(std::string("C:\\Ga\0mes", 9), false));
    EXPECT_TRUE(IsAcceptableLocalFolder("C:\\\xD0\x98\xD0\xB3\xD1\x80\xD1\x8B", false));  // Игры
    EXPECT_TRUE(IsAcceptableLocalFolder("C:\\Spiele\\M\xC3\xBCller", false));
}

TEST_F(LocalFolderRules, OnlyADriveLetterColonAndSeparatorMayStartTheText) {
    EXPECT_FALSE(IsAcceptableLocalFolder("C:", false));
    EXPECT_TRUE(IsAcceptableLocalFolder("C:\\", false));
    EXPECT_TRUE(IsAcceptableLocalFolder("c:/", false));
    EXPECT_TRUE(IsAcceptableLocalFolder("z:\\x", false));
    EXPECT_FALSE(IsAcceptableLocalFolder("\\\\server\\share\\games", false));
    EXPECT_FALSE(IsAcceptableLocalFolder("/games", false));
    EXPECT_FALSE(IsAcceptableLocalFolder("1:\\games", false));
    EXPECT_FALSE(IsAcceptableLocalFolder("C:games", false));
    EXPECT_FALSE(IsAcceptableLocalFolder("\xC3\x84:\\games", false));
    EXPECT_FALSE(IsAcceptableLocalFolder("CC:\\games", false));
}

TEST_F(LocalFolderRules, ASecondColonAnywhereIsRefused) {
    EXPECT_FALSE(IsAcceptableLocalFolder("C:\\games:alt", false));
    EXPECT_FALSE(IsAcceptableLocalFolder("C::\\games", false));
    EXPECT_FALSE(IsAcceptableLocalFolder("C:\\:", false));
    EXPECT_FALSE(IsAcceptableLocalFolder("C:\\a\\b\\c\\d:", false));
}

TEST_F(LocalFolderRules, DotDotAsAWholeElementIsRefusedOtherDotsAreNames) {
    EXPECT_FALSE(IsAcceptableLocalFolder("C:\\Games\\..\\Other", false));
    EXPECT_FALSE(IsAcceptableLocalFolder("C:\\Games\\..", false));
    EXPECT_FALSE(IsAcceptableLocalFolder("C:\\Games\\..\\", false));
    EXPECT_FALSE(IsAcceptableLocalFolder("C:/..", false));
    EXPECT_FALSE(IsAcceptableLocalFolder("C:\\Games//..//x", false));
    EXPECT_TRUE(IsAcceptableLocalFolder("C:\\Games\\.\\Other", false));
    EXPECT_TRUE(IsAcceptableLocalFolder("C:\\Games\\...\\Other", false));
    EXPECT_TRUE(IsAcceptableLocalFolder("C:\\a..b", false));
    EXPECT_TRUE(IsAcceptableLocalFolder("C:\\..a\\b..", false));
}

TEST_F(LocalFolderRules, OnlyARemoteDriveFailsTheDriveRule) {
    EXPECT_FALSE(IsAcceptableLocalFolder("N:\\Games", false));
    EXPECT_FALSE(IsAcceptableLocalFolder("n:\\Games", false));  // the root is built upper-case
    EXPECT_TRUE(IsAcceptableLocalFolder("E:\\Games", false));
    EXPECT_TRUE(IsAcceptableLocalFolder("R:\\Games", false));
    EXPECT_TRUE(IsAcceptableLocalFolder("Q:\\Games", false));  // no drive at all
    EXPECT_FALSE(IsAcceptableLocalFolder("Q:\\Games", true));
}

TEST_F(LocalFolderRules, TheAttributeQuerySeesTheNormalFormWithoutTrailingSeparators) {
    const struct {
        const char* text;
        const char16_t* asked;
    } cases[] = {
        {"C:/Games//", u"C:\\Games"},
        {"C:\\Games", u"C:\\Games"},
        {"C:\\Games\\.\\", u"C:\\Games"},
        {"c:/", u"c:\\"},
        {"C:\\\\\\", u"C:\\"},
        {"C:\\a//b\\\\c/", u"C:\\a\\b\\c"},
    };
    for (const auto& c : cases) {
        fs_.attributeQueries.clear();
        EXPECT_TRUE(IsAcceptableLocalFolder(c.text, false)) << c.text;
        ASSERT_EQ(fs_.attributeQueries.size(), 1u) << c.text;
        EXPECT_EQ(fs_.attributeQueries[0], c.asked) << c.text;
    }
}

TEST_F(LocalFolderRules, AReparsePointAsTheFolderItselfIsRefusedInBothModes) {
    fs_.attributes[u"C:\\Link"] = kAttributeDirectory | kAttributeReparsePoint;
    fs_.statuses[u"C:\\Link"] = PathStatus{true, kAttributeDirectory, 0, 0};
    EXPECT_FALSE(IsAcceptableLocalFolder("C:\\Link", false));
    EXPECT_FALSE(IsAcceptableLocalFolder("C:/Link/", true));
    // Links higher up are not looked at.
    fs_.AddFolder(u"C:\\Link\\Real");
    EXPECT_TRUE(IsAcceptableLocalFolder("C:\\Link\\Real", true));
}

TEST_F(LocalFolderRules, OnlyAFolderThatIsNotThereMayHaveUnreadableAttributes) {
    const struct {
        uint32_t error;
        bool passes;
    } cases[] = {
        {kErrorFileNotFound, true},
        {kErrorPathNotFound, true},
        {kErrorAccessDenied, false},
        {kErrorFilenameExcedRange, false},
        {kErrorInvalidName, false},
        {1920, false},  // ERROR_CANT_ACCESS_FILE
        {0, false},     // a failure that left no error at all
    };
    // The status query, which follows links, would find a folder: only the attribute rule refuses.
    fs_.statuses[u"C:\\Games\\"] = PathStatus{true, kAttributeDirectory, 0, 0};
    for (const auto& c : cases) {
        fs_.attributeErrors[u"C:\\Games"] = c.error;
        EXPECT_EQ(IsAcceptableLocalFolder("C:\\Games\\", false), c.passes) << c.error;
        EXPECT_EQ(IsAcceptableLocalFolder("C:\\Games\\", true), c.passes) << c.error;
    }
}

TEST_F(LocalFolderRules, MustExistWantsADirectoryThatTheStatusQueryReads) {
    fs_.AddFolder(u"C:\\Games");
    fs_.AddFile(u"C:\\file.txt", 10);
    EXPECT_TRUE(IsAcceptableLocalFolder("C:\\Games", true));
    EXPECT_FALSE(IsAcceptableLocalFolder("C:\\Missing", true));
    EXPECT_TRUE(IsAcceptableLocalFolder("C:\\Missing", false));
    EXPECT_FALSE(IsAcceptableLocalFolder("C:\\file.txt", true));
    EXPECT_TRUE(IsAcceptableLocalFolder("C:\\file.txt", false));
    // Readable without following links but not with them (access denied, a dangling link...).
    fs_.attributes[u"C:\\Locked"] = kAttributeDirectory;
    EXPECT_FALSE(IsAcceptableLocalFolder("C:\\Locked", true));
    // A status that still names a link after following counts as a link, not a directory.
    fs_.statuses[u"C:\\Mount"] =
        PathStatus{true, kAttributeDirectory | kAttributeReparsePoint, kReparseTagMountPoint, 0};
    EXPECT_FALSE(IsAcceptableLocalFolder("C:\\Mount", true));
    fs_.statuses[u"C:\\Sym"] =
        PathStatus{true, kAttributeDirectory | kAttributeReparsePoint, kReparseTagSymlink, 0};
    EXPECT_FALSE(IsAcceptableLocalFolder("C:\\Sym", true));
    fs_.statuses[u"C:\\Dedup"] =
        PathStatus{true, kAttributeDirectory | kAttributeReparsePoint, 0x80000013u, 0};
    EXPECT_TRUE(IsAcceptableLocalFolder("C:\\Dedup", true));
}

TEST_F(LocalFolderRules, TheStatusQueryGetsTheTextAsWrittenNotTheNormalForm) {
    fs_.AddFolder(u"C:/Games//");
    fs_.statusQueries.clear();
    EXPECT_TRUE(IsAcceptableLocalFolder("C:/Games//", true));
    ASSERT_EQ(fs_.statusQueries.size(), 1u);
    EXPECT_EQ(fs_.statusQueries[0], u"C:/Games//");
}
