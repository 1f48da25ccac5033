#include <gtest/gtest.h>

#include "app/command_line.h"
#include "app/state.h"

namespace {

CommandLineOptions Parse(std::vector<std::u16string> rest) {
    rest.insert(rest.begin(), u"C:\\setup\\VarnokClientSetup.exe");
    return ParseCommandLine(rest);
}

TEST(ParseCommandLine, NoArgumentsMeansWindowModeOnTheReadyScreen) {
    const CommandLineOptions o = Parse({});
    EXPECT_FALSE(o.uninstall);
    EXPECT_TRUE(o.previewPath.empty());
    EXPECT_EQ(o.stageName, u"ready");
    EXPECT_FALSE(o.silent);
    EXPECT_FALSE(o.installDir.has_value());
    EXPECT_FALSE(o.noDesktopShortcut);
}

TEST(ParseCommandLine, TheExecutablePathIsNeverReadAsAnOption) {
    EXPECT_FALSE(ParseCommandLine({u"--uninstall"}).uninstall);
    EXPECT_FALSE(ParseCommandLine({u"--silent"}).silent);
    EXPECT_TRUE(ParseCommandLine({}).previewPath.empty());
}

TEST(ParseCommandLine, PreviewTakesThePathAndOptionalStage) {
    CommandLineOptions o = Parse({u"--render-preview", u"out.png"});
    EXPECT_EQ(o.previewPath, u"out.png");
    EXPECT_EQ(o.stageName, u"ready");
    o = Parse({u"--stage", u"installing", u"--render-preview", u"C:\\x y\\out.png"});
    EXPECT_EQ(o.previewPath, u"C:\\x y\\out.png");
    EXPECT_EQ(o.stageName, u"installing");
}

TEST(ParseCommandLine, AnOptionAsTheLastArgumentIsIgnored) {
    EXPECT_TRUE(Parse({u"--render-preview"}).previewPath.empty());
    EXPECT_EQ(Parse({u"--render-preview", u"a.png", u"--stage"}).stageName, u"ready");
    EXPECT_FALSE(Parse({u"--silent", u"--install-dir"}).installDir.has_value());
}

TEST(ParseCommandLine, SilentWithTheFolderAndTheShortcutChoiceInAnyOrder) {
    CommandLineOptions o =
        Parse({u"--install-dir", u"D:\\My Games", u"--no-desktop-shortcut", u"/S", u"--silent"});
    EXPECT_TRUE(o.silent);
    EXPECT_EQ(o.installDir, u"D:\\My Games");
    EXPECT_TRUE(o.noDesktopShortcut);
    o = Parse({u"--silent", u"--install-dir", u"--uninstall", u"--install-dir", u"E:\\"});
    EXPECT_FALSE(o.uninstall);
    EXPECT_EQ(o.installDir, u"E:\\");
    EXPECT_FALSE(Parse({u"--Silent", u"--SILENT", u"-silent", u"/silent"}).silent);
}

TEST(ParseCommandLine, StageWithoutPreviewStaysInWindowMode) {
    const CommandLineOptions o = Parse({u"--stage", u"done"});
    EXPECT_TRUE(o.previewPath.empty());
    EXPECT_EQ(o.stageName, u"done");
}

TEST(ParseCommandLine, AValueThatStartsWithDashesIsTakenAsTheValue) {
    CommandLineOptions o = Parse({u"--render-preview", u"--uninstall"});
    EXPECT_FALSE(o.uninstall);
    EXPECT_EQ(o.previewPath, u"--uninstall");
    o = Parse({u"--stage", u"--render-preview", u"x.png"});
    EXPECT_EQ(o.stageName, u"--render-preview");
    EXPECT_TRUE(o.previewPath.empty());
}

TEST(ParseCommandLine, LaterOccurrencesOverwriteEarlierOnes) {
    const CommandLineOptions o = Parse({u"--render-preview", u"a.png", u"--stage", u"done",
                                        u"--render-preview", u"b.png", u"--stage", u"error"});
    EXPECT_EQ(o.previewPath, u"b.png");
    EXPECT_EQ(o.stageName, u"error");
}

TEST(ParseCommandLine, UninstallAnywhereWinsAndMatchingIsCaseSensitive) {
    EXPECT_TRUE(Parse({u"--render-preview", u"x.png", u"--uninstall"}).uninstall);
    EXPECT_TRUE(Parse({u"--uninstall", u"--render-preview", u"x.png"}).uninstall);
    EXPECT_TRUE(Parse({u"--silent", u"--uninstall"}).uninstall);
    EXPECT_FALSE(Parse({u"--UNINSTALL"}).uninstall);
    EXPECT_FALSE(Parse({u"--Uninstall", u"-uninstall", u"/uninstall", u"--uninstall "}).uninstall);
    EXPECT_TRUE(Parse({u"--Render-Preview", u"x.png"}).previewPath.empty());
}

TEST(ApplyPreviewPreset, InstallingShowsTheDownloadingPreset) {
    InstallerState state;
    ApplyPreviewPreset(state, u"installing");
    EXPECT_EQ(state.progress.stage, InstallStage::Installing);
    EXPECT_EQ(state.progress.statusText, u"Downloading");
    EXPECT_EQ(state.progress.bytesDone, 1850000u);
    EXPECT_EQ(state.progress.bytesTotal, 3000000u);
    EXPECT_DOUBLE_EQ(state.progress.bytesPerSecond, 14889779.2);
    EXPECT_FALSE(state.progress.indeterminate);
}

TEST(ApplyPreviewPreset, DoneAndErrorPresets) {
    InstallerState done;
    ApplyPreviewPreset(done, u"done");
    EXPECT_EQ(done.progress.stage, InstallStage::Done);
    EXPECT_EQ(done.progress.version, "1.0.1");
    InstallerState error;
    ApplyPreviewPreset(error, u"error");
    EXPECT_EQ(error.progress.stage, InstallStage::Error);
    EXPECT_EQ(error.progress.errorText, u"Could not connect to server. Check your internet.");
}

TEST(ApplyPreviewPreset, OtherNamesAndOtherLetterCaseLeaveTheReadyScreen) {
    for (const char16_t* name : {u"ready", u"Installing", u"DONE", u"foo", u""}) {
        InstallerState state;
        ApplyPreviewPreset(state, name);
        EXPECT_EQ(state.progress.stage, InstallStage::Ready);
        EXPECT_TRUE(state.progress.statusText.empty());
        EXPECT_TRUE(state.progress.errorText.empty());
    }
}

}  // namespace
