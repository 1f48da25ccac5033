#include <gtest/gtest.h>

#include <vector>

#include "common/text.h"
#include "game/game_folder.h"
#include "tests/game/fake_file_system.h"
#include "tests/game/real_folders.h"
#include "tests/support/scratch.h"

namespace {

uint32_t Bit(char letter) {
    return 1u << (letter - 'A');
}

class GameFolderDetection : public ::testing::Test {
protected:
    GameFolderDetection() : use_(fs_) {}
    FakeFileSystem fs_;
    UseFakeFileSystem use_;
};

}  // namespace

TEST_F(GameFolderDetection, SearchesOwnFolderThenDThenCThenOtherFixedDrivesThenFallsBack) {
    fs_.ownPath = u"C:\\Downloads\\VarnokClientSetup.exe";
    fs_.logicalDrives = Bit('C') | Bit('D') | Bit('E');
    fs_.driveTypes = {{u'C', kDriveFixed}, {u'D', kDriveFixed}, {u'E', kDriveFixed}};
    EXPECT_EQ(DetectGameFolder(), "D:\\Games\\Morvanta");

    std::vector<std::u16string> order;
    for (const auto& path : fs_.statusQueries)
        if (path.ends_with(u"\\Morvanta.exe")) order.push_back(path.substr(0, path.size() - 13));
    const std::vector<std::u16string> expected{u"C:\\Downloads",         u"D:\\Games\\Morvanta",
                                               u"D:\\Morvanta",          u"D:\\Games\\Korrindale",
                                               u"C:\\Games\\Morvanta",   u"C:\\Morvanta",
                                               u"C:\\Games\\Korrindale", u"E:\\Games\\Morvanta",
                                               u"E:\\Morvanta",          u"E:\\Games\\Korrindale"};
    EXPECT_EQ(order, expected);
    // Each candidate asks for Morvanta.exe and then csgo.exe.
    EXPECT_EQ(fs_.statusQueries.size(), 2 * expected.size());
}

TEST_F(GameFolderDetection, DriveOrderBeatsCandidateOrderAndAnyExecutableCounts) {
    fs_.logicalDrives = Bit('C') | Bit('D');
    fs_.driveTypes = {{u'C', kDriveFixed}, {u'D', kDriveFixed}};
    fs_.AddFile(u"C:\\Games\\Morvanta\\csgo.exe", 0);
    fs_.AddFile(u"D:\\Morvanta\\Morvanta.exe", 0);
    EXPECT_EQ(DetectGameFolder(), "D:\\Morvanta");
    fs_.statuses.erase(u"D:\\Morvanta\\Morvanta.exe");
    EXPECT_EQ(DetectGameFolder(), "C:\\Games\\Morvanta");  // an empty csgo.exe is enough
}

TEST_F(GameFolderDetection, TheOwnFolderWinsBeforeAnyDriveIsScanned) {
    fs_.ownPath = u"E:\\Stuff\\Game\\setup.exe";
    fs_.driveTypes = {{u'D', kDriveFixed}, {u'E', kDriveFixed}};
    fs_.AddFile(u"E:\\Stuff\\Game\\csgo.exe", 1);
    fs_.AddFile(u"D:\\Games\\Morvanta\\Morvanta.exe", 1);
    EXPECT_EQ(DetectGameFolder(), "E:\\Stuff\\Game");
    fs_.ownPath = u"E:\\setup.exe";
    fs_.AddFile(u"E:\\csgo.exe", 1);
    EXPECT_EQ(DetectGameFolder(), "E:\\");  // a drive root keeps its separator
}

TEST_F(GameFolderDetection, ANonAsciiOwnFolderIsSkippedEvenWithTheGameInIt) {
    fs_.ownPath = u"C:\\\u0418\u0433\u0440\u044b\\setup.exe";
    fs_.driveTypes = {{u'C', kDriveFixed}};
    fs_.AddFile(u"C:\\\u0418\u0433\u0440\u044b\\csgo.exe", 1);
    EXPECT_EQ(DetectGameFolder(), "C:\\Games\\Morvanta");
    for (const auto& path : fs_.statusQueries)
        EXPECT_EQ(path.find(u'\u0418'), std::u16string::npos);
}

TEST_F(GameFolderDetection, OnlyFixedDrivesAreSearchedAndCAndDAlwaysAsked) {
    fs_.logicalDrives = Bit('A') | Bit('F') | Bit('G') | Bit('N') | Bit('R');
    fs_.driveTypes = {{u'A', kDriveRemovable}, {u'C', kDriveFixed}, {u'D', kDriveCdrom},
                      {u'F', kDriveRamdisk},   {u'G', kDriveFixed}, {u'N', kDriveRemote},
                      {u'R', kDriveRemovable}};
    for (char letter : std::string("ADFNR")) {
        const std::u16string base{static_cast<char16_t>(letter), u':', u'\\'};
        fs_.AddFile(base + u"Morvanta\\Morvanta.exe", 1);
    }
    fs_.AddFile(u"G:\\Games\\Korrindale\\csgo.exe", 1);
    EXPECT_EQ(DetectGameFolder(), "G:\\Games\\Korrindale");
    fs_.statuses.erase(u"G:\\Games\\Korrindale\\csgo.exe");
    // Nothing found and an optical D: gives the C: fallback, never checked for existence.
    EXPECT_EQ(DetectGameFolder(), "C:\\Games\\Morvanta");
    // The bitmask need not show C: or D: for them to be searched.
    fs_.logicalDrives = 0;
    fs_.driveTypes[u'D'] = kDriveFixed;
    EXPECT_EQ(DetectGameFolder(), "D:\\Morvanta");
}

TEST_F(GameFolderDetection, AFolderNamedLikeTheExecutableIsNotAGame) {
    fs_.driveTypes = {{u'C', kDriveFixed}};
    fs_.AddFolder(u"C:\\Games\\Morvanta\\Morvanta.exe");
    fs_.AddFolder(u"C:\\Games\\Morvanta\\csgo.exe");
    fs_.statuses[u"C:\\Morvanta\\csgo.exe"] =
        PathStatus{true, kAttributeReparsePoint, kReparseTagSymlink, 5};
    EXPECT_EQ(DetectGameFolder(), "C:\\Games\\Morvanta");  // the fallback, not a find
    EXPECT_FALSE(HasGameExecutable("C:\\Games\\Morvanta"));
    EXPECT_FALSE(HasGameExecutable("C:\\Morvanta"));
}

TEST_F(GameFolderDetection, WithoutOwnPathOrAnyGameTheFallbackFollowsDriveD) {
    fs_.driveTypes = {{u'C', kDriveFixed}, {u'D', kDriveFixed}};
    EXPECT_EQ(DetectGameFolder(), "D:\\Games\\Morvanta");
    fs_.driveTypes[u'D'] = kDriveRemovable;
    EXPECT_EQ(DetectGameFolder(), "C:\\Games\\Morvanta");
    fs_.driveTypes.clear();
    EXPECT_EQ(DetectGameFolder(), "C:\\Games\\Morvanta");
}

// ---- The strict and loose checks on real folders ----

namespace {

const char* const kRequired[] = {"Morvanta.exe",
                                 "csgo.exe",
                                 "bin/morvanta_gc.dll",
                                 "bin/engine.dll",
                                 "csgo/bin/client.dll",
                                 "csgo/pak01_dir.vpk",
                                 "csgo/resource/flash/mainmenu.swf"};

}  // namespace

TEST(GameFolderChecks, ACompleteFolderPassesBothChecks) {
    ScratchDir scratch;
    MakeCompleteGame(scratch.path());
    EXPECT_TRUE(IsCompleteGameFolder(FolderText(scratch.path())));
    EXPECT_TRUE(IsPlausibleGameFolder(FolderText(scratch.path())));
    EXPECT_TRUE(HasGameExecutable(FolderText(scratch.path())));
}

TEST(GameFolderChecks, EachRequiredFileMustBeANonEmptyRegularFile) {
    for (const char* name : kRequired) {
        ScratchDir scratch;
        MakeCompleteGame(scratch.path());
        WriteFileBytes(scratch / name, "");
        EXPECT_FALSE(IsCompleteGameFolder(FolderText(scratch.path()))) << name << " empty";
        std::filesystem::remove(scratch / name);
        EXPECT_FALSE(IsCompleteGameFolder(FolderText(scratch.path()))) << name << " missing";
        std::filesystem::create_directories(scratch / name);
        EXPECT_FALSE(IsCompleteGameFolder(FolderText(scratch.path()))) << name << " a folder";
    }
}

TEST(GameFolderChecks, HasNonEmptyFileJoinsWithBackslashAndWantsABytes) {
    ScratchDir scratch;
    WriteFileBytes(scratch / "bin/engine.dll", "x");
    WriteFileBytes(scratch / "empty.dll", "");
    const std::u16string folder = Utf8ToUtf16(FolderText(scratch.path()));
    EXPECT_TRUE(HasNonEmptyFile(folder, u"bin\\engine.dll"));
    EXPECT_FALSE(HasNonEmptyFile(folder, u"empty.dll"));
    EXPECT_FALSE(HasNonEmptyFile(folder, u"bin"));
    EXPECT_FALSE(HasNonEmptyFile(folder, u"missing.dll"));
}

TEST(GameFolderChecks, PatchVersionMustStartWithTheExpectedPrefixWhenNamed) {
    const struct {
        std::string steamInf;
        bool complete;
    } cases[] = {
        {"PatchVersion=1.36.3.4\n", true},
        {"PatchVersion=1.36.3.12", true},
        {"PatchVersion=1.36.3.", true},
        {"PatchVersion=1.38.8.1\n", false},
        {"PatchVersion=1.36", false},                           // fewer than seven bytes follow
        {"PatchVersion=", false},                               // exactly the key, nothing after it
        {"patchversion=1.38.8.1", true},                        // the key is case-sensitive
        {"ProductName=csgo\n", true},                           // no PatchVersion at all
        {"PatchVer", true},                                     // shorter than the key
        {"PatchVersion=1.36.3.1\nPatchVersion=2.0.0.0", true},  // the first one counts
        {std::string(1020, '#') + "PatchVersion=1.38.8.1", true},  // beyond the first 1024 bytes
        {std::string(1000, '#') + "PatchVersion=1.38.8.1", false},
        {std::string(1005, '#') + "PatchVersion=1.36.3.1", false},  // value cut at byte 1024
    };
    for (const auto& c : cases) {
        ScratchDir scratch;
        MakeCompleteGame(scratch.path());
        WriteFileBytes(scratch / "csgo/steam.inf", c.steamInf);
        EXPECT_EQ(IsCompleteGameFolder(FolderText(scratch.path())), c.complete)
            << c.steamInf.substr(0, 40) << " (" << c.steamInf.size() << " bytes)";
    }
}

TEST(GameFolderChecks, AMissingEmptyOrFolderSteamInfPassesTheVersionTest) {
    ScratchDir scratch;
    MakeCompleteGame(scratch.path());
    const std::string folder = FolderText(scratch.path());
    std::filesystem::remove(scratch / "csgo/steam.inf");
    EXPECT_TRUE(IsCompleteGameFolder(folder));
    WriteFileBytes(scratch / "csgo/steam.inf", "");
    EXPECT_TRUE(IsCompleteGameFolder(folder));
    std::filesystem::remove(scratch / "csgo/steam.inf");
    std::filesystem::create_directories(scratch / "csgo/steam.inf");
    EXPECT_TRUE(IsCompleteGameFolder(folder));
}

TEST(GameFolderChecks, ThePlausibleCheckWantsOneSignOfTheGameWhateverItsSize) {
    ScratchDir scratch;
    const std::string folder = FolderText(scratch.path());
    EXPECT_FALSE(IsPlausibleGameFolder(folder));
    WriteFileBytes(scratch / "csgo/pak01_dir.vpk", "");
    EXPECT_TRUE(IsPlausibleGameFolder(folder));
    EXPECT_FALSE(IsCompleteGameFolder(folder));
    std::filesystem::remove(scratch / "csgo/pak01_dir.vpk");
    std::filesystem::create_directories(scratch / "csgo.exe");
    EXPECT_FALSE(IsPlausibleGameFolder(folder));
    WriteFileBytes(scratch / "Morvanta.exe", "");
    EXPECT_TRUE(IsPlausibleGameFolder(folder));
}

TEST(GameFolderChecks, BothChecksApplyTheFolderRulesFirst) {
    ScratchDir scratch;
    MakeCompleteGame(scratch / "real");
    std::string reason;
    if (!MakeDirectoryLink(scratch / "link", "real", reason)) GTEST_SKIP() << reason;
    EXPECT_TRUE(IsCompleteGameFolder(FolderText(scratch / "real")));
    EXPECT_FALSE(IsCompleteGameFolder(FolderText(scratch / "link")));
    EXPECT_FALSE(IsPlausibleGameFolder(FolderText(scratch / "link")));
    // Refused as a parent step even though the folder it leads to is complete.
    EXPECT_FALSE(IsCompleteGameFolder(FolderText(scratch / "link") + "\\..\\real"));
    // The detection test applies no folder rules: a link holding the game still counts.
    EXPECT_TRUE(HasGameExecutable(FolderText(scratch / "link")));
}

TEST(GameFolderChecks, ACompleteGameOnARemoteDriveIsRefused) {
    FakeFileSystem fs;
    UseFakeFileSystem use(fs);
    fs.driveTypes[u'N'] = kDriveRemote;
    fs.AddFolder(u"N:\\Games\\Morvanta");
    for (const char* name : kRequired) {
        std::u16string relative = Utf8ToUtf16(name);
        for (auto& c : relative)
            if (c == u'/') c = u'\\';
        fs.AddFile(u"N:\\Games\\Morvanta\\" + relative, 100);
    }
    EXPECT_FALSE(IsCompleteGameFolder("N:\\Games\\Morvanta"));
    EXPECT_FALSE(IsPlausibleGameFolder("N:\\Games\\Morvanta"));
    fs.driveTypes[u'N'] = kDriveFixed;
    EXPECT_TRUE(IsCompleteGameFolder("N:\\Games\\Morvanta"));
}
