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
