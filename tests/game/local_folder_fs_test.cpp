// The folder rules against the real file system: the Windows build's own drive letters and
// folders, and on the host the Linux root seen as drive Z:.
#ifdef _WIN32
#include <windows.h>
#endif

#include <gtest/gtest.h>

#include "common/text.h"
#include "game/file_queries.h"
#include "game/local_folder.h"
#include "tests/game/real_folders.h"
#include "tests/support/scratch.h"

TEST(LocalFolderOnDisk, ARealFolderIsAcceptedInBothModesAndWithTrailingSeparators) {
    ScratchDir scratch;
    std::filesystem::create_directories(scratch / "Games");
    const std::string folder = FolderText(scratch / "Games");
    EXPECT_TRUE(IsAcceptableLocalFolder(folder, true));
    EXPECT_TRUE(IsAcceptableLocalFolder(folder, false));
    EXPECT_TRUE(IsAcceptableLocalFolder(folder + "\\\\", true));
}

TEST(LocalFolderOnDisk, AMissingFolderPassesOnlyWithoutMustExist) {
    ScratchDir scratch;
    const std::string folder = FolderText(scratch / "not-yet");
    EXPECT_TRUE(IsAcceptableLocalFolder(folder, false));
    EXPECT_FALSE(IsAcceptableLocalFolder(folder, true));
}

TEST(LocalFolderOnDisk, TheAttributeQueryTellsAMissingFolderFromAMissingPath) {
    ScratchDir scratch;
    const std::string base = FolderText(scratch.path());
    const PathAttributes folder = g_pathAttributes(Utf8ToUtf16(base));
    EXPECT_EQ(folder.attributes & kAttributeDirectory, kAttributeDirectory);
    EXPECT_EQ(g_pathAttributes(Utf8ToUtf16(base + "\\missing")).error, kErrorFileNotFound);
    EXPECT_EQ(g_pathAttributes(Utf8ToUtf16(base + "\\missing\\deeper")).error, kErrorPathNotFound);
}

TEST(LocalFolderOnDisk, ANameLongerThanAnyFileSystemTakesIsRefused) {
#ifdef _WIN32
    if (GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr)
        GTEST_SKIP() << "WineLongNameIsNotFound: Wine answers a 300-character name with file not "
                        "found (2), where Windows fails on the name itself (too long or invalid)";
#endif
    ScratchDir scratch;
    const std::string folder = FolderText(scratch.path()) + "\\" + std::string(300, 'a');
    EXPECT_FALSE(IsAcceptableLocalFolder(folder, false));
}

TEST(LocalFolderOnDisk, ARegularFileIsRefusedWhenTheFolderMustExist) {
    ScratchDir scratch;
    WriteFileBytes(scratch / "file.txt", "x");
    const std::string file = FolderText(scratch / "file.txt");
    EXPECT_FALSE(IsAcceptableLocalFolder(file, true));
    EXPECT_TRUE(IsAcceptableLocalFolder(file, false));
}

TEST(LocalFolderOnDisk, ANonAsciiFolderIsFoundOnDisk) {
    ScratchDir scratch;
    const auto games = scratch / std::filesystem::path(u8"\u0418\u0433\u0440\u044b");
    std::filesystem::create_directories(games);
    EXPECT_TRUE(IsAcceptableLocalFolder(FolderText(games), true));
}

TEST(LocalFolderOnDisk, ALinkAsTheFolderIsRefusedButAFolderBehindALinkIsAccepted) {
    ScratchDir scratch;
    std::filesystem::create_directories(scratch / "real" / "inner");
    std::string reason;
    if (!MakeDirectoryLink(scratch / "link", "real", reason)) GTEST_SKIP() << reason;
    EXPECT_FALSE(IsAcceptableLocalFolder(FolderText(scratch / "link"), false));
    EXPECT_FALSE(IsAcceptableLocalFolder(FolderText(scratch / "link"), true));
    EXPECT_FALSE(IsAcceptableLocalFolder(FolderText(scratch / "link") + "\\", true));
    EXPECT_TRUE(IsAcceptableLocalFolder(FolderText(scratch / "link" / "inner"), true));
    EXPECT_TRUE(IsAcceptableLocalFolder(FolderText(scratch / "real"), true));
}

#ifdef _WIN32
TEST(LocalFolderOnDisk, TheSystemDriveRootIsAcceptedAndAMissingLetterOnlyWithoutMustExist) {
    EXPECT_TRUE(IsAcceptableLocalFolder("C:\\", true));
    EXPECT_TRUE(IsAcceptableLocalFolder("c:/", true));
    EXPECT_TRUE(IsAcceptableLocalFolder("C:\\windows", true));
    // Wine shows C: and Z:; a letter well away from both is assumed free (checked first).
    ASSERT_EQ(g_logicalDrives() & (1u << ('Q' - 'A')), 0u) << "Q: exists on this machine";
    EXPECT_TRUE(IsAcceptableLocalFolder("Q:\\Games", false));
    EXPECT_FALSE(IsAcceptableLocalFolder("Q:\\Games", true));
}
#endif
