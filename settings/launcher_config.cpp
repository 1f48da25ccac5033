#include "settings/launcher_config.h"

#include <limits>
#include <stdexcept>
#include <string_view>

#include "common/build_info.h"
#include "common/files.h"
#include "common/path.h"
#include "game/file_queries.h"
#include "game/game_folder.h"
#include "game/local_folder.h"
#include "settings/settings_platform.h"
#include "settings/web_base_url.h"

using nlohmann::json;

namespace {

constexpr char16_t kFolderName[] = u"MorvantaLauncher";
constexpr char16_t kFileName[] = u"config.json";
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

std::u16string ConfigPath() {
    return JoinPath(SettingsFolder(), kFileName);
}

// The whole file, or nothing when it cannot be opened or read; a file over `limit` bytes comes
// back with one byte more than the limit, which is enough to refuse it without reading the rest.
std::optional<std::string> ReadFileUpTo(const FileOwner& file, size_t limit) {
    std::string text(limit + 1, '\0');
    size_t done = 0;
    while (done < text.size()) {
        size_t got = 0;
        if (!ReadFromFile(file, text.data() + done, text.size() - done, got)) return std::nullopt;
        if (got == 0) break;
        done += got;
    }
    text.resize(done);
    return text;
}

bool IsMissing(const std::u16string& path) {
    const PathAttributes found = g_pathAttributes(path);
    return found.attributes == kInvalidFileAttributes &&
           (found.error == kErrorFileNotFound || found.error == kErrorPathNotFound);
}

bool SystemReplaceFile(const std::u16string& from, const std::u16string& to) {
    uint32_t ignored = 0;
    return MoveFileReplacing(from, to, ignored);
}

}  // namespace

ReplaceFileFn g_replaceFile = &SystemReplaceFile;

std::u16string SettingsFolder() {
    std::optional<std::u16string> base = g_localAppDataFolder();
    if (!base || base->empty()) base = TemporaryFolder();
    if (!base || base->empty()) throw std::runtime_error("no folder for the settings file");
    const std::u16string folder = JoinPath(*base, kFolderName);
    uint32_t ignored = 0;
    CreateFolderTree(folder, ignored);
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
    const std::u16string target = ConfigPath();
    const std::u16string temporary = target + u".tmp";
    const std::string text = LauncherConfigToJson(config).dump(2);

    {
        uint32_t error = 0;
        FileOwner out = CreateFileForWriting(temporary, error);
        if (!out) return false;
        // Only a complete file on the disk may replace the one the user has.
        const bool complete =
            WriteToFile(out, text.data(), text.size(), error) && FlushFile(out, error);
        out.reset();
        if (!complete) {
            RemoveFile(temporary);
            return false;
        }
    }
    if (!g_replaceFile(temporary, target)) {
        RemoveFile(temporary);
        return false;
    }
    return true;
}

std::optional<LauncherConfigMerge> MergeLauncherConfigText(std::string_view text,
                                                           const LauncherConfig& defaults) {
    // Too large or too deep counts as malformed, like text that does not parse.
    if (text.size() > kLargestFileBytes || NestsDeeperThan(text, kDeepestNesting))
        return std::nullopt;

    try {
        const json parsed = json::parse(text, nullptr, true, false);

        LauncherConfigMerge merge{defaults, false};
        LauncherConfig& result = merge.config;

        const int32_t readVersion = ReadInt32(Member(parsed, "config_version")).value_or(1);
        if (readVersion < kCurrentConfigVersion) merge.rewrite = true;
        result.config_version = std::max(readVersion, kCurrentConfigVersion);

        if (const auto dir = ReadString(Member(parsed, "game_dir"));
            dir && IsAcceptableLocalFolder(*dir, false))
            result.game_dir = *dir;

        if (!IsCompleteGameFolder(result.game_dir) && !IsPlausibleGameFolder(result.game_dir) &&
            IsCompleteGameFolder(defaults.game_dir)) {
            result.game_dir = defaults.game_dir;
            merge.rewrite = true;
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
        return merge;
    } catch (...) {
        return std::nullopt;
    }
}

LauncherConfig LoadLauncherConfig() {
    const LauncherConfig defaults = DefaultLauncherConfig();
    const std::u16string path = ConfigPath();

    std::optional<std::string> text;
    if (const FileOwner in = OpenFileForReading(path); in) {
        text = ReadFileUpTo(in, kLargestFileBytes);
    } else {
        // Only a file that is not there is created. One that is there but cannot be opened now
        // (held by the client, refused to us) still holds the user's settings.
        if (IsMissing(path)) SaveLauncherConfig(defaults);
        return defaults;
    }
    // Unreadable or malformed: the defaults, and the file left alone.
    if (!text) return defaults;
    const std::optional<LauncherConfigMerge> merge = MergeLauncherConfigText(*text, defaults);
    if (!merge) return defaults;
    if (merge->rewrite) {
        try {
            SaveLauncherConfig(merge->config);
        } catch (...) {
            return defaults;
        }
    }
    return merge->config;
}
