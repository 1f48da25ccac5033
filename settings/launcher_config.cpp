#include "settings/launcher_config.h"

#include <fstream>
#include <limits>
#include <string_view>
#include <system_error>

#include "common/build_info.h"
#include "game/game_folder.h"
#include "game/local_folder.h"
#include "settings/settings_platform.h"
#include "settings/web_base_url.h"

namespace fs = std::filesystem;
using nlohmann::json;

namespace {

constexpr const char* kFolderName = "MorvantaLauncher";
constexpr const char* kFileName = "config.json";
// Beyond these a file is not settings: 13 keys fit in a few KiB and nest two levels at most, while
// a hostile file of brackets would cost the parser gigabytes in the install's last step.
constexpr size_t kLargestFileBytes = 1 << 20;
constexpr int kDeepestNesting = 64;

// Arrays and objects inside one another, counted outside strings, beyond `limit`. Brackets that
// do not pair up are left for the parser to refuse.
bool NestsDeeperThan(std::string_view text, int limit) {
    int depth = 0;
    bool inString = false;
    bool escaped = false;
    for (const char c : text) {
        if (inString) {
            if (escaped)
                escaped = false;
            else if (c == '\\')
                escaped = true;
            else if (c == '"')
                inString = false;
        } else if (c == '"') {
            inString = true;
        } else if (c == '[' || c == '{') {
            if (++depth > limit) return true;
        } else if (c == ']' || c == '}') {
            --depth;
        }
    }
    return false;
}

bool IsOneOf(const std::string& value, std::initializer_list<const char*> allowed) {
    for (const char* option : allowed)
        if (value == option) return true;
    return false;
}

// The member named `key` when the value is an object that has it, else null.
const json* Member(const json& value, const char* key) {
    if (!value.is_object()) return nullptr;
    const auto it = value.find(key);
    return it == value.end() ? nullptr : &*it;
}

// nlohmann keeps a non-negative integer as unsigned and a negative one as signed; either counts as
// a JSON integer here. A value beyond int32 is held at the nearest end rather than wrapped, so a
// huge version stays a high version instead of turning negative.
std::optional<int32_t> ReadInt32(const json* value) {
    if (value == nullptr || !value->is_number_integer()) return std::nullopt;
    constexpr int32_t kMin = std::numeric_limits<int32_t>::min();
    constexpr int32_t kMax = std::numeric_limits<int32_t>::max();
    if (value->is_number_unsigned()) {
        const auto v = value->get<uint64_t>();
        return v > static_cast<uint64_t>(kMax) ? kMax : static_cast<int32_t>(v);
    }
    const auto v = value->get<int64_t>();
    return v < kMin ? kMin : v > kMax ? kMax : static_cast<int32_t>(v);
}

// Only integers written without a minus sign (nlohmann's unsigned kind) count; -0 is signed.
std::optional<uint64_t> ReadUnsigned(const json* value) {
    if (value == nullptr || !value->is_number_unsigned()) return std::nullopt;
    return value->get<uint64_t>();
}

std::optional<std::string> ReadString(const json* value) {
    if (value == nullptr || !value->is_string()) return std::nullopt;
    return value->get<std::string>();
}

void ReadBool(const json* value, bool& field) {
    if (value != nullptr && value->is_boolean()) field = value->get<bool>();
}

fs::path ConfigPath() {
    return SettingsFolder() / kFileName;
}

}  // namespace

fs::path SettingsFolder() {
    const std::optional<fs::path> base = g_localAppDataFolder();
    const fs::path folder =
        (base && !base->empty() ? *base : fs::temp_directory_path()) / kFolderName;
    std::error_code ignored;
    fs::create_directories(folder, ignored);
    return folder;
}

LauncherConfig DefaultLauncherConfig() {
    LauncherConfig config;
    config.game_dir = DetectGameFolder();
    config.web_base_url = std::string(BuiltInWebBaseUrl());
    return config;
}

json LauncherConfigToJson(const LauncherConfig& config) {
    return json{
        {"config_version", config.config_version},
        {"game_dir", config.game_dir},
        {"launch_options", config.launch_options},
        {"web_base_url", config.web_base_url},
        {"lang", config.lang},
        {"presence_mode", config.presence_mode},
        {"auto_login", config.auto_login},
        {"cloud_sync_enabled", config.cloud_sync_enabled},
        {"auto_check_updates", config.auto_check_updates},
        {"installed_game_build", config.installed_game_build},
        {"last_manifest_published_at", config.last_manifest_published_at},
        {"local_playtime_seconds", config.local_playtime_seconds},
        {"last_played", config.last_played ? json(*config.last_played) : json(nullptr)},
    };
}

bool SaveLauncherConfig(const LauncherConfig& config) {
    const fs::path target = ConfigPath();
    fs::path temporary = target;
    temporary += ".tmp";
    const std::string text = LauncherConfigToJson(config).dump(2);

    std::error_code ignored;
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        if (!out.is_open()) return false;
        out.write(text.data(), static_cast<std::streamsize>(text.size()));
        out.flush();
        // Closing may still fail to hand the last bytes over; only a complete file may replace.
        if (out) out.close();
        if (!out) {
            out.close();
            fs::remove(temporary, ignored);
            return false;
        }
    }
    if (!g_replaceFile(temporary, target)) {
        fs::remove(temporary, ignored);
        return false;
    }
    return true;
}

LauncherConfig LoadLauncherConfig() {
    const LauncherConfig defaults = DefaultLauncherConfig();
    const fs::path path = ConfigPath();

    std::ifstream in(path, std::ios::binary);
    if (!in.is_open()) {
        // Only a file that is not there is created. One that is there but cannot be opened now
        // (held by the client, refused to us) still holds the user's settings.
        std::error_code ec;
        const fs::file_status status = fs::symlink_status(path, ec);
        if (status.type() == fs::file_type::not_found) SaveLauncherConfig(defaults);
        return defaults;
    }

    try {
        // One byte past the limit tells an oversized file without reading the rest of it.
        std::string text(kLargestFileBytes + 1, '\0');
        in.read(text.data(), static_cast<std::streamsize>(text.size()));
        text.resize(static_cast<size_t>(in.gcount()));
        const bool readFailed = in.bad();
        in.close();
        // Too large or too deep counts as malformed: the defaults, and the file left alone.
        if (readFailed || text.size() > kLargestFileBytes || NestsDeeperThan(text, kDeepestNesting))
            return defaults;
        const json parsed = json::parse(text, nullptr, true, false);

        LauncherConfig result = defaults;
        bool rewrite = false;

        const int32_t readVersion = ReadInt32(Member(parsed, "config_version")).value_or(1);
        if (readVersion < kCurrentConfigVersion) rewrite = true;
        result.config_version = std::max(readVersion, kCurrentConfigVersion);

        if (const auto dir = ReadString(Member(parsed, "game_dir"));
            dir && IsAcceptableLocalFolder(*dir, false))
            result.game_dir = *dir;

        if (!IsCompleteGameFolder(result.game_dir) && !IsPlausibleGameFolder(result.game_dir) &&
            IsCompleteGameFolder(defaults.game_dir)) {
            result.game_dir = defaults.game_dir;
            rewrite = true;
        }

        if (auto options = ReadString(Member(parsed, "launch_options")))
            result.launch_options = std::move(*options);

        if (const auto url = ReadString(Member(parsed, "web_base_url"))) {
            std::string normal = NormalizeWebBaseUrl(*url);
            // Version 1 files carried development addresses; a loopback one is not kept.
            const auto parsedUrl = ParseHttpUrl(normal);
            if (readVersion < kCurrentConfigVersion && parsedUrl && IsLoopbackHost(parsedUrl->host))
                normal = std::string(BuiltInWebBaseUrl());
            result.web_base_url = std::move(normal);
        }

        if (auto lang = ReadString(Member(parsed, "lang")); lang && IsOneOf(*lang, {"ru", "en"}))
            result.lang = std::move(*lang);
        if (auto mode = ReadString(Member(parsed, "presence_mode"));
            mode && IsOneOf(*mode, {"online", "away", "invisible", "offline"}))
            result.presence_mode = std::move(*mode);
        ReadBool(Member(parsed, "auto_login"), result.auto_login);
        ReadBool(Member(parsed, "cloud_sync_enabled"), result.cloud_sync_enabled);
        ReadBool(Member(parsed, "auto_check_updates"), result.auto_check_updates);
        if (const auto build = ReadUnsigned(Member(parsed, "installed_game_build"));
            build && *build >= 1)
            result.installed_game_build = *build;
        if (const auto at = ReadUnsigned(Member(parsed, "last_manifest_published_at")))
            result.last_manifest_published_at = *at;
        result.last_played = ReadString(Member(parsed, "last_played"));
        if (const auto seconds = ReadUnsigned(Member(parsed, "local_playtime_seconds")))
            result.local_playtime_seconds = *seconds;

        if (rewrite) SaveLauncherConfig(result);
        return result;
    } catch (...) {
        return defaults;
    }
}
