// The installed client's settings file, config.json: the record, its defaults, the merge that
// reads the file back, the atomic writer and the exact text format.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

// Every field is named like its key in config.json.
struct LauncherConfig {
    int32_t config_version = 2;
    std::string game_dir;
    std::string launch_options = "-novid -console -tickrate 128";
    std::string web_base_url;
    std::string lang = "en";
    std::string presence_mode = "online";
    bool auto_login = true;
    bool cloud_sync_enabled = true;
    bool auto_check_updates = true;
    uint64_t installed_game_build = 1;
    uint64_t last_manifest_published_at = 0;
    std::optional<std::string> last_played;
    uint64_t local_playtime_seconds = 0;

    bool operator==(const LauncherConfig&) const = default;
};

// The settings version this installer writes.
inline constexpr int32_t kCurrentConfigVersion = 2;

// The local application data folder (or, when the system names none, the temporary folder) joined
// with "MorvantaLauncher", created when missing; returned even when it could not be created.
// Throws std::runtime_error when neither base folder can be determined.
std::u16string SettingsFolder();

// Every default, with the detected game folder and no last_played.
LauncherConfig DefaultLauncherConfig();

// The object with all thirteen keys; last_played is null when absent.
nlohmann::json LauncherConfigToJson(const LauncherConfig& config);

// Writes config.json through config.json.tmp and one replace. True when the new file is in place;
// on failure config.json.tmp is removed and config.json is left as it was.
bool SaveLauncherConfig(const LauncherConfig& config);

// Reads config.json, merges it over the defaults, repairs the game folder and migrates older
// versions, rewriting the file only when that changed something that matters. A missing file is
// created from the defaults; a file that exists but cannot be read or parsed is never written over.
LauncherConfig LoadLauncherConfig();

// What config.json's bytes give when merged over the defaults: the record, and whether the file
// must be written back (an older version, or a game folder repaired from the detected one).
struct LauncherConfigMerge {
    LauncherConfig config;
    bool rewrite = false;
};

// The reading half of LoadLauncherConfig, on bytes in memory: nothing when the bytes are not
// settings (too large, nested too deep, not one complete JSON value, or anything thrown on the
// way), which the load answers with the defaults and no write. Touches no file itself; the folder
// rules it applies ask the replaceable file queries.
std::optional<LauncherConfigMerge> MergeLauncherConfigText(std::string_view text,
                                                           const LauncherConfig& defaults);
