#include "tests/settings/settings_fixture.h"

#include <chrono>

#include "common/text.h"
#include "tests/game/real_folders.h"

namespace fs = std::filesystem;

namespace {

fs::path g_base;
std::u16string g_ownPath;

std::optional<std::u16string> ScratchBase() {
    return g_base.u16string();
}
std::u16string TestOwnPath() {
    return g_ownPath;
}

}  // namespace

SettingsFileTest::SettingsFileTest()
    // A non-ASCII base, like a user name in Cyrillic, so every file access goes by wide path.
    : base_(scratch_ / fs::path(u8"\u0414\u0430\u043d\u043d\u044b\u0435")),
      folder_(g_localAppDataFolder, &ScratchBase),
      own_(g_ownExecutablePath, &TestOwnPath) {
    g_base = base_;
    // An installer folder with no game in it: detection goes on to the drives.
    fs::create_directories(scratch_ / "installer");
    g_ownPath = Utf8ToUtf16(FolderText(scratch_ / "installer" / "setup.exe"));
}

void SettingsFileTest::WriteConfig(const std::string& bytes) const {
    WriteFileBytes(ConfigFile(), bytes);
    fs::last_write_time(ConfigFile(), fs::last_write_time(ConfigFile()) - std::chrono::hours(1));
}

std::string SettingsFileTest::InstallDetectedGame() const {
    MakeCompleteGame(scratch_ / "game");
    g_ownPath = Utf8ToUtf16(FolderText(scratch_ / "game" / "setup.exe"));
    return FolderText(scratch_ / "game");
}

FileSnapshot Snapshot(const fs::path& file) {
    std::error_code ec;
    return {ReadFileBytes(file), fs::last_write_time(file, ec)};
}

std::string Quoted(const std::string& text) {
    return nlohmann::json(text).dump();
}
