// The folder chosen with Browse becomes the install folder by the Windows path rules, on every
// build.
#include <gtest/gtest.h>

#include "app/browse_rules.h"

namespace {

TEST(InstallDirForChosenFolder, AppendsTheClientFolderUnlessTheLastComponentIsExactlyIt) {
    EXPECT_EQ(InstallDirForChosenFolder("D:\\Games"), u"D:\\Games\\VarnokClient");
    EXPECT_EQ(InstallDirForChosenFolder("D:\\Games\\VarnokClient"), u"D:\\Games\\VarnokClient");
    EXPECT_EQ(InstallDirForChosenFolder("D:\\Games\\varnokclient"),
              u"D:\\Games\\varnokclient\\VarnokClient");
    EXPECT_EQ(InstallDirForChosenFolder("D:\\"), u"D:\\VarnokClient");
    EXPECT_EQ(InstallDirForChosenFolder("D:/Games"), u"D:/Games\\VarnokClient");
    EXPECT_EQ(InstallDirForChosenFolder("D:\\Games\\VarnokClientOld"),
              u"D:\\Games\\VarnokClientOld\\VarnokClient");
}

TEST(InstallDirForChosenFolder, KeepsNonAsciiNames) {
    EXPECT_EQ(InstallDirForChosenFolder("D:\\\xD0\x98\xD0\xB3\xD1\x80\xD1\x8B"),
              u"D:\\\u0418\u0433\u0440\u044B\\VarnokClient");
}

TEST(InstallDirForChosenFolder, RefusesFoldersTheFolderRulesRefuse) {
    EXPECT_FALSE(InstallDirForChosenFolder("\\\\server\\share\\Games").has_value());
    EXPECT_FALSE(InstallDirForChosenFolder("D:\\Games\\..\\Other").has_value());
    EXPECT_FALSE(InstallDirForChosenFolder("").has_value());  // a name that failed to convert
}

TEST(WindowsPathRules, FilenameIsTheComponentAfterTheLastSeparatorBehindTheRoot) {
    EXPECT_EQ(WindowsPathFilename(u"D:\\Games\\VarnokClient"), u"VarnokClient");
    EXPECT_EQ(WindowsPathFilename(u"D:/Games/x"), u"x");
    EXPECT_EQ(WindowsPathFilename(u"D:\\"), u"");
    EXPECT_EQ(WindowsPathFilename(u"D:"), u"");
    EXPECT_EQ(WindowsPathFilename(u"D:Games"), u"Games");
    EXPECT_EQ(WindowsPathFilename(u"D:\\Games\\"), u"");
    EXPECT_EQ(WindowsPathFilename(u"\\\\host\\share"), u"share");
    EXPECT_EQ(WindowsPathFilename(u"\\\\host"), u"");
}

TEST(WindowsPathRules, AppendInsertsOneBackslashOnlyAfterAFilename) {
    EXPECT_EQ(WindowsPathAppend(u"D:\\Games", u"x"), u"D:\\Games\\x");
    EXPECT_EQ(WindowsPathAppend(u"D:\\Games\\", u"x"), u"D:\\Games\\x");
    EXPECT_EQ(WindowsPathAppend(u"D:/Games/", u"x"), u"D:/Games/x");
    EXPECT_EQ(WindowsPathAppend(u"D:\\", u"x"), u"D:\\x");
    EXPECT_EQ(WindowsPathAppend(u"D:", u"x"), u"D:x");
    EXPECT_EQ(WindowsPathAppend(u"", u"x"), u"x");
}

}  // namespace
