// Shell links written by CreateShortcut, read back through IShellLinkW Load.
#include <gtest/gtest.h>

#include <windows.h>
#include <shlobj.h>
#include <shobjidl.h>

#include "common/handles_win.h"
#include "common/text_win.h"
#include "install/registration.h"
#include "tests/support/scratch.h"

namespace fs = std::filesystem;

namespace {

struct LinkProperties {
    std::wstring target, folder, description, iconPath, arguments;
    int iconIndex = -1;
    WORD hotkey = 0xFFFF;
    int showCommand = -1;
};

bool LoadLink(const fs::path& file, LinkProperties& out) {
    ComPtr<IShellLinkW> link;
    if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                reinterpret_cast<void**>(link.put()))))
        return false;
    ComPtr<IPersistFile> persist;
    if (FAILED(link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(persist.put()))))
        return false;
    if (FAILED(persist->Load(file.wstring().c_str(), STGM_READ))) return false;
    wchar_t buf[MAX_PATH * 2] = {};
    link->GetPath(buf, MAX_PATH, nullptr, SLGP_RAWPATH);
    out.target = buf;
    buf[0] = 0;
    link->GetWorkingDirectory(buf, MAX_PATH);
    out.folder = buf;
    buf[0] = 0;
    link->GetDescription(buf, MAX_PATH);
    out.description = buf;
    buf[0] = 0;
    link->GetIconLocation(buf, MAX_PATH, &out.iconIndex);
    out.iconPath = buf;
    buf[0] = 0;
    link->GetArguments(buf, MAX_PATH);
    out.arguments = buf;
    link->GetHotkey(&out.hotkey);
    link->GetShowCmd(&out.showCommand);
    return true;
}

std::u16string U16(const fs::path& p) {
    return p.u16string();
}

class Shortcut : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
        WriteFileBytes(install_ / "VarnokClient.exe", "MZ stand-in");
    }
    void TearDown() override { CoUninitialize(); }

    ScratchDir scratch_;
    fs::path install_ = scratch_ / "Games" / "Varnok Client";
    fs::path exe_ = install_ / "VarnokClient.exe";
};

}  // namespace

TEST_F(Shortcut, IsCreatedInAMissingStartMenuFolderWithItsFourProperties) {
    const fs::path file =
        scratch_ / "Start Menu" / "Programs" / "Varnok Client" / "Varnok Client.lnk";
    ASSERT_FALSE(fs::exists(file.parent_path()));
    ASSERT_TRUE(CreateShortcut(U16(file), U16(exe_), U16(install_), u"Varnok Client"));
    ASSERT_TRUE(fs::is_regular_file(file));

    LinkProperties link;
    ASSERT_TRUE(LoadLink(file, link));
    EXPECT_EQ(link.target, exe_.wstring());
    EXPECT_EQ(link.folder, install_.wstring());
    EXPECT_EQ(link.description, L"Varnok Client");
    EXPECT_EQ(link.iconPath, exe_.wstring());
    EXPECT_EQ(link.iconIndex, 0);
    EXPECT_EQ(link.arguments, L"");
    EXPECT_EQ(link.hotkey, 0);
    EXPECT_EQ(link.showCommand, SW_SHOWNORMAL);
}

TEST_F(Shortcut, SecondSaveOverwritesTheFile) {
    const fs::path file = scratch_ / "Desktop" / "Varnok Client.lnk";
    const fs::path other = scratch_ / "Elsewhere" / "Other.exe";
    WriteFileBytes(other, "MZ other");
    ASSERT_TRUE(
        CreateShortcut(U16(file), U16(other), U16(other.parent_path()), u"First description"));
    ASSERT_TRUE(CreateShortcut(U16(file), U16(exe_), U16(install_), u"Varnok Client"));

    LinkProperties link;
    ASSERT_TRUE(LoadLink(file, link));
    EXPECT_EQ(link.target, exe_.wstring());
    EXPECT_EQ(link.folder, install_.wstring());
    EXPECT_EQ(link.description, L"Varnok Client");
    EXPECT_EQ(link.iconPath, exe_.wstring());
}

TEST_F(Shortcut, FailsAndLeavesNoFileWhenItsFolderCannotBeMade) {
    WriteFileBytes(scratch_ / "blocker", "a file where the folder should be");
    const fs::path file = scratch_ / "blocker" / "Varnok Client" / "Varnok Client.lnk";
    EXPECT_FALSE(CreateShortcut(U16(file), U16(exe_), U16(install_), u"Varnok Client"));
    std::error_code ignored;
    EXPECT_FALSE(fs::exists(file, ignored));
    EXPECT_FALSE(fs::exists(file.parent_path(), ignored));
}
