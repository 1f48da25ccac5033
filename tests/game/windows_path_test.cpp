#include <gtest/gtest.h>

#include <vector>

#include "game/windows_path.h"

using Elements = std::vector<std::u16string>;

TEST(WindowsPathElements, SplitsRootNameRootDirectoryAndNamesBetweenSeparatorRuns) {
    EXPECT_EQ(WindowsPathElements(u"C:\\Games\\..\\Other"),
              (Elements{u"C:", u"\\", u"Games", u"..", u"Other"}));
    EXPECT_EQ(WindowsPathElements(u"c:/a//b\\/c"), (Elements{u"c:", u"/", u"a", u"b", u"c"}));
    EXPECT_EQ(WindowsPathElements(u"C:\\"), (Elements{u"C:", u"\\"}));
    EXPECT_EQ(WindowsPathElements(u"C:games"), (Elements{u"C:", u"games"}));
    EXPECT_EQ(WindowsPathElements(u"a\\b"), (Elements{u"a", u"b"}));
}

TEST(WindowsPathElements, TrailingSeparatorsGiveOneEmptyLastElement) {
    EXPECT_EQ(WindowsPathElements(u"C:\\Games\\"), (Elements{u"C:", u"\\", u"Games", u""}));
    EXPECT_EQ(WindowsPathElements(u"C:/Games//"), (Elements{u"C:", u"/", u"Games", u""}));
    EXPECT_EQ(WindowsPathElements(u"C:\\..."), (Elements{u"C:", u"\\", u"..."}));
}

TEST(WindowsLexicallyNormal, UsesBackslashesCollapsesRunsAndDropsDots) {
    EXPECT_EQ(WindowsLexicallyNormal(u"C:/Games//"), u"C:\\Games\\");
    EXPECT_EQ(WindowsLexicallyNormal(u"c:/"), u"c:\\");
    EXPECT_EQ(WindowsLexicallyNormal(u"C:\\Games\\.\\Other"), u"C:\\Games\\Other");
    EXPECT_EQ(WindowsLexicallyNormal(u"C:\\Games\\."), u"C:\\Games\\");
    EXPECT_EQ(WindowsLexicallyNormal(u"C:\\Games\\...\\a..b"), u"C:\\Games\\...\\a..b");
    EXPECT_EQ(WindowsLexicallyNormal(u"C:\\.\\"), u"C:\\");
}

TEST(WindowsLexicallyNormal, CancelsParentStepsLikeThePathType) {
    EXPECT_EQ(WindowsLexicallyNormal(u"C:\\a\\..\\b"), u"C:\\b");
    EXPECT_EQ(WindowsLexicallyNormal(u"C:\\a\\b\\.."), u"C:\\a\\");
    EXPECT_EQ(WindowsLexicallyNormal(u"C:\\..\\a"), u"C:\\a");
    EXPECT_EQ(WindowsLexicallyNormal(u"a\\.."), u".");
    EXPECT_EQ(WindowsLexicallyNormal(u"..\\..\\a"), u"..\\..\\a");
    EXPECT_EQ(WindowsLexicallyNormal(u"../"), u"..");
    EXPECT_EQ(WindowsLexicallyNormal(u""), u"");
}

TEST(WindowsParentPath, RemovesTheLastNameAndItsSeparatorsButKeepsTheRoot) {
    EXPECT_EQ(WindowsParentPath(u"C:\\Games\\Morvanta\\setup.exe"), u"C:\\Games\\Morvanta");
    EXPECT_EQ(WindowsParentPath(u"C:\\Games\\\\setup.exe"), u"C:\\Games");
    EXPECT_EQ(WindowsParentPath(u"C:\\setup.exe"), u"C:\\");
    EXPECT_EQ(WindowsParentPath(u"C:/setup.exe"), u"C:/");
    EXPECT_EQ(WindowsParentPath(u"C:\\Games\\"), u"C:\\Games");
    EXPECT_EQ(WindowsParentPath(u"C:\\"), u"C:\\");
    EXPECT_EQ(WindowsParentPath(u"setup.exe"), u"");
    EXPECT_EQ(WindowsParentPath(u"C:/a//b.exe"), u"C:/a");
    EXPECT_EQ(WindowsParentPath(u"C:b.exe"), u"C:");
    EXPECT_EQ(WindowsParentPath(u"\\\\host\\share\\b.exe"), u"\\\\host\\share");
}
