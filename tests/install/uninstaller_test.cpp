// Which folder the uninstaller works on, when it may remove that folder whole, and the exact
// command it hands that removal to.
#include <gtest/gtest.h>

#include <string>

#include "common/scoped_override.h"
#include "game/file_queries.h"
#include "install/uninstaller.h"

namespace {

TEST(FolderOfFile, DropsTheLastComponentAndKeepsTheRoot) {
    const std::pair<std::u16string, std::u16string> cases[] = {
        {u"C:\\Games\\VarnokClient\\Uninstall.exe", u"C:\\Games\\VarnokClient"},
        {u"C:/Games/VarnokClient/Uninstall.exe", u"C:/Games/VarnokClient"},
        {u"C:\\Games\\\\Uninstall.exe", u"C:\\Games"},
        {u"C:\\Uninstall.exe", u"C:\\"},
        {u"Uninstall.exe", u""},
        {u"", u""},
    };
    for (const auto& [path, folder] : cases) EXPECT_EQ(FolderOfFile(path), folder);
}

TEST(IsRemovableInstallFolder, OnlyALocalFolderNamedVarnokThatCmdTakesLiterally) {
    // R: is a mapped network drive, every other letter a local disk; "VarnokLink" is a junction.
    ScopedOverride<DriveTypeFn> drives(g_driveType, [](const std::u16string& root) {
        return root == u"R:\\" ? kDriveRemote : kDriveFixed;
    });
    ScopedOverride<PathAttributesFn> attributes(g_pathAttributes, [](const std::u16string& path) {
        if (path.ends_with(u"VarnokLink"))
            return PathAttributes{kAttributeDirectory | kAttributeReparsePoint, 0};
        return PathAttributes{kAttributeDirectory, 0};
    });
    const std::pair<std::u16string, bool> cases[] = {
        {u"C:\\Games\\VarnokClient", true},
        {u"C:\\Varnok", true},
        {u"D:/Apps/My Varnok Copy", true},
        {u"C:\\Games", false},
        {u"C:\\Games\\varnokclient", false},
        {u"C:\\Games\\VARNOK", false},
        {u"C:\\VarnokClient\\MyGames", false},  // the marker must be in the folder's own name
        {u"\\\\server\\VarnokShare", false},    // rmdir would empty the whole share
        {u"R:\\Games\\VarnokClient", false},
        {u"C:\\Games\\VarnokLink", false},  // rmdir would empty what the link leads to
        {u"D:\\Games\\%USERNAME%\\VarnokClient", false},  // cmd expands it, quotes or not
        {u"D:\\Games\\Varnok!Client!", false},
        {u"C:\\", false},
        {u"", false},
    };
    for (const auto& [folder, removable] : cases)
        EXPECT_EQ(IsRemovableInstallFolder(folder), removable)
            << std::string(folder.begin(), folder.end());
}

TEST(PlanUninstall, ASetupFileNeverTakesItsFolderAndHandsAQuietUninstallToTheRegisteredOne) {
    ScopedOverride<DriveTypeFn> drives(g_driveType, [](const std::u16string& root) {
        return root == u"R:\\" ? kDriveRemote : kDriveFixed;
    });
    ScopedOverride<PathAttributesFn> attributes(g_pathAttributes, [](const std::u16string&) {
        return PathAttributes{kAttributeDirectory, 0};
    });
    const std::u16string installed = u"D:\\Games\\VarnokClient";
    const std::u16string own = installed + u"\\Uninstall.exe";
    const std::u16string setup = u"C:\\Users\\u\\Downloads\\VarnokStuff\\VarnokClientSetup.exe";
    using A = UninstallAction;
    struct Row {
        std::u16string path;
        bool silent;
        std::optional<std::u16string> registered;
        bool registeredUninstallerExists;
        A action;
        std::u16string folder;
        bool removeFolder;
    };
    const Row rows[] = {
        // a person: the running file's own folder, as always; only Uninstall.exe takes it whole
        {own, false, installed, true, A::OwnFolder, installed, true},
        {u"D:\\Games\\VarnokClient\\UNINSTALL.EXE",
         false,
         {},
         false,
         A::OwnFolder,
         installed,
         true},
        {setup, false, installed, true, A::OwnFolder, u"C:\\Users\\u\\Downloads\\VarnokStuff",
         false},
        {u"D:\\VarnokCopy\\Uninstall.exe.bak",
         false,
         {},
         false,
         A::OwnFolder,
         u"D:\\VarnokCopy",
         false},
        // a tool: the registered install, whoever is started
        {own, true, installed, true, A::OwnFolder, installed, true},
        // the same file in other letters; the folder's own name marks it only as "Varnok"
        {u"d:/games/varnokclient/uninstall.exe", true, installed, true, A::OwnFolder,
         u"d:/games/varnokclient", false},
        {setup, true, {}, false, A::Nothing, u"", false},
        {setup, true, installed, true, A::HandOver, u"", false},
        {u"C:\\Old\\VarnokClient\\Uninstall.exe", true, installed, true, A::HandOver, u"", false},
        {setup, true, installed, false, A::RegisteredFolder, installed, false},
        {setup, true, u"R:\\Games\\VarnokClient", true, A::RegisteredFolder, u"", false},
    };
    for (const Row& row : rows) {
        const UninstallPlan plan =
            PlanUninstall(row.path, row.silent, row.registered, row.registeredUninstallerExists);
        const std::string name(row.path.begin(), row.path.end());
        EXPECT_EQ(plan.action, row.action) << name << " silent " << row.silent;
        EXPECT_EQ(plan.folder, row.folder) << name;
        EXPECT_EQ(plan.removeFolder, row.removeFolder) << name;
        EXPECT_EQ(plan.uninstaller, row.action == A::HandOver ? own : u"") << name;
    }
}

TEST(DelayedFolderRemovalCommand, WaitsASecondThenRemovesTheQuotedFolderQuietly) {
    const std::u16string command = DelayedFolderRemovalCommand(u"C:\\Games\\VarnokClient");
    EXPECT_EQ(command,
              u"cmd.exe /D /C ping 127.0.0.1 -n 2 >NUL & rmdir /S /Q "
              u"\"C:\\Games\\VarnokClient\"");
    EXPECT_EQ(command.find(u"C:\\Games"), 54u);

    // Started by full path from the system folder: never a cmd.exe or ping.exe someone put into
    // the install folder or beside it.
    const DelayedRemovalProcess process =
        DelayedFolderRemovalProcess(u"C:\\Windows\\system32", u"C:\\Games\\VarnokClient");
    EXPECT_EQ(process.applicationName, u"C:\\Windows\\system32\\cmd.exe");
    EXPECT_EQ(process.workingFolder, u"C:\\Windows\\system32");
    EXPECT_EQ(process.commandLine, command);
}

}  // namespace
