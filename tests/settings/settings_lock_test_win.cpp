// config.json held open by another process, the way a running client might hold it.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "common/handles_win.h"
#include "common/own_path.h"
#include "common/text_win.h"
#include "game/windows_path.h"
#include "tests/settings/settings_fixture.h"

namespace fs = std::filesystem;

namespace {

// The holder process with its two events; released and waited for when it goes out of scope.
class FileHolder {
public:
    FileHolder(const fs::path& file, DWORD share) {
        const std::wstring tag = std::to_wstring(GetCurrentProcessId()) + L"-" +
                                 std::to_wstring(GetTickCount64()) + L"-" + std::to_wstring(share);
        const std::wstring readyName = L"varnok-hold-ready-" + tag;
        const std::wstring releaseName = L"varnok-hold-release-" + tag;
        ready_.reset(CreateEventW(nullptr, TRUE, FALSE, readyName.c_str()));
        release_.reset(CreateEventW(nullptr, TRUE, FALSE, releaseName.c_str()));
        // The holder is built beside the test executable. (The real own path, not a test's.)
        const std::u16string holder =
            WindowsParentPath(OwnExecutablePath()) + u"\\settings_file_holder.exe";
        std::wstring command = L"\"" + std::wstring(WView(holder)) + L"\" \"" + file.wstring() +
                               L"\" " + std::to_wstring(share) + L" " + readyName + L" " +
                               releaseName;
        STARTUPINFOW startup{};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION info{};
        if (!CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW,
                            nullptr, nullptr, &startup, &info))
            return;
        process_.reset(info.hProcess);
        UniqueHandleKernel thread(info.hThread);
        const HANDLE waits[] = {ready_.get(), process_.get()};
        holding_ = WaitForMultipleObjects(2, waits, FALSE, 20000) == WAIT_OBJECT_0;
    }
    ~FileHolder() {
        SetEvent(release_.get());
        if (process_) WaitForSingleObject(process_.get(), 20000);
    }
    bool holding() const { return holding_; }

private:
    UniqueHandleKernel ready_;
    UniqueHandleKernel release_;
    UniqueHandleKernel process_;
    bool holding_ = false;
};

}  // namespace

TEST_F(SettingsFileTest, AConfigHeldOpenWithoutSharingFailsTheSaveAndStaysAsItWas) {
    WriteConfig("{\"config_version\": 1, \"lang\": \"ru\"}");
    const FileSnapshot before = Snapshot(ConfigFile());
    {
        FileHolder holder(ConfigFile(), 0);
        ASSERT_TRUE(holder.holding()) << "the holder process did not open config.json";
        EXPECT_FALSE(SaveLauncherConfig(DefaultLauncherConfig()));
        EXPECT_FALSE(fs::exists(TemporaryFile()));
        // The load cannot read the held file: it answers with the defaults and writes nothing.
        EXPECT_EQ(LoadLauncherConfig(), DefaultLauncherConfig());
        EXPECT_FALSE(fs::exists(TemporaryFile()));
    }
    EXPECT_EQ(Snapshot(ConfigFile()), before);
    // Once the holder has let go, the version-1 file is migrated as usual.
    EXPECT_EQ(LoadLauncherConfig().lang, "ru");
    EXPECT_NE(ReadFileBytes(ConfigFile()).find("\"config_version\": 2"), std::string::npos);
}

TEST_F(SettingsFileTest, AConfigThatCannotBeReadIsNotReplacedByTheDefaults) {
    // Shared for deletion only: we cannot open it for reading, while a replace may be allowed.
    // Where the system refuses that replace anyway, the defaults could never land on it.
    {
        const fs::path probe = scratch_ / "probe.json";
        WriteFileBytes(probe, "held");
        WriteFileBytes(scratch_ / "probe.new", "new");
        FileHolder holder(probe, FILE_SHARE_DELETE);
        ASSERT_TRUE(holder.holding()) << "the holder process did not open the probe file";
        if (!MoveFileExW((scratch_ / "probe.new").c_str(), probe.c_str(),
                         MOVEFILE_REPLACE_EXISTING))
            GTEST_SKIP() << "this system refuses to replace a file held open with FILE_SHARE_DELETE"
                            " (Wine does), so an unreadable config.json cannot be lost here";
    }
    WriteConfig("{\"config_version\": 2, \"lang\": \"ru\", \"game_dir\": \"C:\\\\Games\\\\Mine\"}");
    const FileSnapshot before = Snapshot(ConfigFile());
    {
        FileHolder holder(ConfigFile(), FILE_SHARE_DELETE);
        ASSERT_TRUE(holder.holding()) << "the holder process did not open config.json";
        EXPECT_EQ(LoadLauncherConfig(), DefaultLauncherConfig());
        EXPECT_FALSE(fs::exists(TemporaryFile()));
    }
    EXPECT_EQ(Snapshot(ConfigFile()), before);
}
