#include <gtest/gtest.h>

#include "app/command_line.h"
#include "app/exit_codes.h"
#include "app/silent_install.h"
#include "app/state.h"
#include "common/scoped_override.h"

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

// What a run without a person refuses instead of guessing, and what every run takes as it is.
TEST(ParseCommandLine, NotesTheFirstArgumentNotUnderstoodAndDropsAQuoteLeftByQuoting) {
    struct Row {
        std::vector<std::u16string> args;
        const char* refusal;
        const char16_t* refused;
        std::optional<std::u16string> installDir;
    };
    const Row rows[] = {
        {{u"--silent", u"--install-dir", u"D:\\X"}, "", u"", u"D:\\X"},
        {{u"--silent", u"--instal-dir", u"D:\\X"}, "unknown_argument", u"--instal-dir", {}},
        {{u"--silent", u"/S", u"--bogus"}, "unknown_argument", u"/S", {}},
        {{u"--silent", u"--install-dir"}, "missing_value", u"--install-dir", {}},
        {{u"--silent", u"--log"}, "missing_value", u"--log", {}},
        {{u"--silent", u"--install-dir", u""}, "empty_value", u"--install-dir", u""},
        {{u"--install-dir", u"\"", u"--silent"}, "empty_value", u"--install-dir", u""},
        // winget's --install-dir "<INSTALLPATH>" with a path ending in a backslash
        {{u"--silent", u"--install-dir", u"C:\\Games\""}, "", u"", u"C:\\Games"},
        {{u"--silent", u"--install-dir", u"C:\\Ga\"mes"}, "", u"", u"C:\\Ga\"mes"},
        {{u"--silent", u"--install-dir", u"C:\\Games\"\""}, "", u"", u"C:\\Games\"\""},
        {{u"--uninstall", u"--silent", u"--log", u"C:\\u.log", u"x"}, "unknown_argument", u"x", {}},
        {{u"--Silent"}, "unknown_argument", u"--Silent", {}},
    };
    for (const Row& row : rows) {
        const CommandLineOptions o = Parse(row.args);
        const std::string name(row.refusal);
        EXPECT_EQ(o.refusal, row.refusal) << name;
        EXPECT_EQ(o.refusedArgument, row.refused) << name;
        EXPECT_EQ(o.installDir, row.installDir) << name;
    }
    const CommandLineOptions logged = Parse({u"--silent", u"--log", u"C:\\x y\\run.log\""});
    EXPECT_EQ(logged.logPath, u"C:\\x y\\run.log");
}

bool g_systemAnswer = false;

TEST(RefusedRunCode, AMisTypedUnattendedRunAndAnyMachineAccountRunEndBeforeAnything) {
    ScopedOverride<LocalSystemQueryFn> query(g_runsAsLocalSystem, [] { return g_systemAnswer; });
    struct Row {
        std::vector<std::u16string> args;
        bool system;
        std::optional<int> code;
    };
    const Row rows[] = {
        {{u"--silent"}, false, std::nullopt},
        {{u"--silent", u"--instal-dir", u"D:\\X"}, false, 1639},
        {{u"--uninstall", u"--silent", u"--purge"}, false, 1639},
        {{u"--silent", u"--install-dir"}, false, 1639},
        // the window goes on ignoring what it does not know, --log included
        {{u"--instal-dir", u"D:\\X", u"--log"}, false, std::nullopt},
        {{}, true, 21},
        {{u"--silent"}, true, 21},
        {{u"--uninstall", u"--silent"}, true, 21},
        {{u"--uninstall", u"--render-preview", u"x.png"}, true, 21},
        {{u"--render-preview", u"x.png", u"--stage", u"done"}, true, std::nullopt},
        {{u"--silent", u"--bogus"}, true, 1639},
    };
    for (const Row& row : rows) {
        g_systemAnswer = row.system;
        EXPECT_EQ(RefusedRunCode(Parse(row.args)), row.code)
            << row.args.size() << " arguments, system " << row.system;
    }
}

TEST(ApplyUnattendedChoices, TheFolderGivenElseTheRegisteredInstallElseTheDefault) {
    struct Row {
        std::vector<std::u16string> args;
        std::optional<std::u16string> registered;
        std::u16string folder;
        bool desktop;
    };
    const std::u16string byDefault = u"C:\\Users\\u\\AppData\\Local\\VarnokClient";
    const Row rows[] = {
        {{u"--silent"}, {}, byDefault, true},
        {{u"--silent"}, u"D:\\Games\\VarnokClient", u"D:\\Games\\VarnokClient", true},
        {{u"--silent", u"--install-dir", u"E:\\Apps"},
         u"D:\\Games\\VarnokClient",
         u"E:\\Apps\\VarnokClient",
         true},
        {{u"--silent", u"--install-dir", u"E:\\VarnokClient", u"--no-desktop-shortcut"},
         {},
         u"E:\\VarnokClient",
         false},
        // refused by Browse's rules: kept as given, so the worker refuses it with its code
        {{u"--silent", u"--install-dir", u"\\\\server\\share"}, {}, u"\\\\server\\share", true},
    };
    for (const Row& row : rows) {
        InstallerState state;
        state.installDir = byDefault;
        ApplyUnattendedChoices(state, Parse(row.args), row.registered);
        EXPECT_EQ(state.installDir, row.folder);
        EXPECT_EQ(state.createDesktopShortcut, row.desktop);
        EXPECT_FALSE(state.launchAfterInstall);
        EXPECT_TRUE(state.unattended);
    }
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
