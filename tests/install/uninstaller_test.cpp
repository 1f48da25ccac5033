// Which folder the uninstaller works on, when it may remove that folder whole, and the exact
// command it hands that removal to.
#include <gtest/gtest.h>

#include <string>

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

TEST(IsRemovableInstallFolder, OnlyALastComponentWithVarnokInItsOwnCase) {
    const std::pair<std::u16string, bool> cases[] = {
        {u"C:\\Games\\VarnokClient", true},
        {u"C:\\Varnok", true},
        {u"D:/Apps/My Varnok Copy", true},
        {u"C:\\Games", false},
        {u"C:\\Games\\varnokclient", false},
        {u"C:\\Games\\VARNOK", false},
        {u"C:\\VarnokClient\\Games", false},  // the marker must be in the folder's own name
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
              u"cmd.exe /C ping 127.0.0.1 -n 2 >NUL & rmdir /S /Q \"C:\\Games\\VarnokClient\"");
    EXPECT_EQ(command.find(u"C:\\Games"), 51u);
}

}  // namespace
