#include "manifest/update_manifest.h"

#include <chrono>
#include <cmath>

#include <nlohmann/json.hpp>

#include "common/text.h"
#include "manifest/sha256.h"

using nlohmann::json;

namespace {

int64_t UnixTimeNowDefault() {
    return std::chrono::duration_cast<std::chrono::seconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

[[noreturn]] void RefuseType(const json& value, const char* key, const char* wanted) {
    throw json::type_error::create(
        302,
        std::string("type must be ") + wanted + " for key " + key + ", but is " + value.type_name(),
        &value);
}

// A JSON number as a 64-bit integer: integers wrap into the signed range, floats are truncated
// toward zero and must fit.
int64_t FloatToInt64(const json& value, const char* key, double number) {
    const double truncated = std::trunc(number);
    if (truncated >= -9223372036854775808.0 && truncated < 9223372036854775808.0)
        return static_cast<int64_t>(truncated);
    RefuseType(value, key, "a number in range");
}

int32_t ReadInt32(const json& object, const char* key, int32_t fallback) {
    const auto it = object.find(key);
    if (it == object.end()) return fallback;
    const json& v = *it;
    switch (v.type()) {
        case json::value_t::number_integer:
            return static_cast<int32_t>(static_cast<uint32_t>(v.get<int64_t>()));
        case json::value_t::number_unsigned:
            return static_cast<int32_t>(static_cast<uint32_t>(v.get<uint64_t>()));
        case json::value_t::number_float:
            return static_cast<int32_t>(
                static_cast<uint32_t>(FloatToInt64(v, key, v.get<double>())));
        case json::value_t::boolean:
            return v.get<bool>() ? 1 : 0;
        default:
            RefuseType(v, key, "number");
    }
}

uint64_t ReadUint64(const json& object, const char* key) {
    const auto it = object.find(key);
    if (it == object.end()) return 0;
    const json& v = *it;
    switch (v.type()) {
        case json::value_t::number_integer:
            return static_cast<uint64_t>(v.get<int64_t>());
        case json::value_t::number_unsigned:
            return v.get<uint64_t>();
        case json::value_t::number_float: {
            const double truncated = std::trunc(v.get<double>());
            if (truncated >= 9223372036854775808.0 && truncated < 18446744073709551616.0)
                return static_cast<uint64_t>(truncated);
            return static_cast<uint64_t>(FloatToInt64(v, key, truncated));
        }
        default:
            RefuseType(v, key, "number");
    }
}

int64_t ReadInt64(const json& object, const char* key) {
    const auto it = object.find(key);
    if (it == object.end()) return 0;
    const json& v = *it;
    switch (v.type()) {
        case json::value_t::number_integer:
            return v.get<int64_t>();
        case json::value_t::number_unsigned:
            return static_cast<int64_t>(v.get<uint64_t>());
        case json::value_t::number_float:
            return FloatToInt64(v, key, v.get<double>());
        default:
            RefuseType(v, key, "number");
    }
}

std::string ReadText(const json& object, const char* key) {
    const auto it = object.find(key);
    if (it == object.end()) return {};
    if (!it->is_string()) RefuseType(*it, key, "string");
    return it->get<std::string>();
}

bool ReadBool(const json& object, const char* key, bool fallback) {
    const auto it = object.find(key);
    if (it == object.end()) return fallback;
    if (!it->is_boolean()) RefuseType(*it, key, "boolean");
    return it->get<bool>();
}

bool IsLowerHex(std::string_view text) {
    for (char c : text)
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
    return true;
}

bool Fail(UpdateManifest& record, const char* code) {
    record.errorCode = code;
    return false;
}

// The JSON library's errors and resource exhaustion alike: the response is unusable.
bool ParseFailed(UpdateManifest& record) {
    record.valid = false;
    record.errorCode = "manifest_parse_failed";
    return false;
}

}  // namespace

int64_t (*g_unixTimeNow)() = &UnixTimeNowDefault;

bool IsReservedDeviceName(std::string_view component) {
    std::string_view stem = component.substr(0, component.find('.'));
    while (!stem.empty() && (stem.back() == ' ' || stem.back() == '.')) stem.remove_suffix(1);
    const std::string lower = AsciiLowerCopy(stem);
    if (lower.size() == 3)
        return lower == "con" || lower == "prn" || lower == "aux" || lower == "nul";
    if (lower.size() == 4) {
        const std::string_view head = std::string_view(lower).substr(0, 3);
        return (head == "com" || head == "lpt") && lower[3] >= '0' && lower[3] <= '9';
    }
    return false;
}

bool IsSafeRelPath(std::string_view path) {
    if (path.empty() || path.size() > 240) return false;
    if (path.front() == '/' || path.front() == '\\') return false;
    for (char c : path)
        if (c == '\\' || c == ':' || c == '\0') return false;
    size_t start = 0;
    while (true) {
        const size_t slash = path.find('/', start);
        const std::string_view part = path.substr(
            start, slash == std::string_view::npos ? std::string_view::npos : slash - start);
        if (part.empty() || part == "." || part == "..") return false;
        if (part.back() == '.' || part.back() == ' ') return false;
        if (IsReservedDeviceName(part)) return false;
        for (char c : part) {
            const auto byte = static_cast<unsigned char>(c);
            if (byte < 0x20 || byte > 0x7E) return false;
            if (c == '"' || c == '*' || c == '<' || c == '>' || c == '?' || c == '|') return false;
        }
        if (slash == std::string_view::npos) return true;
        start = slash + 1;
    }
}

bool IsAcceptedFileUrl(std::string_view url) {
    if (url.size() <= kFileUrlPrefix.size() ||
        url.substr(0, kFileUrlPrefix.size()) != kFileUrlPrefix)
        return false;
    const std::string_view name = url.substr(kFileUrlPrefix.size());
    if (name.size() > 128 || name.front() == '.' || name.find("..") != std::string_view::npos)
        return false;
    for (char c : name) {
        const bool ok = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
                        (c >= '0' && c <= '9') || c == '.' || c == '_' || c == '-';
        if (!ok) return false;
    }
    return true;
}

std::u16string GameFileLocalPath(std::u16string_view baseFolder, std::string_view relPath) {
    std::u16string path(baseFolder);
    const bool bareDrive =
        path.size() == 2 && path[1] == u':' &&
        ((path[0] >= u'A' && path[0] <= u'Z') || (path[0] >= u'a' && path[0] <= u'z'));
    if (!path.empty() && path.back() != u'\\' && path.back() != u'/' && !bareDrive)
        path.push_back(u'\\');
    path += Utf8ToUtf16(relPath);
    return path;
}

bool ParseFileEntry(const json& value, bool checkRelPath, GameFileEntry& entry) {
    if (!value.is_object()) return false;
    entry.file_id = ReadText(value, "file_id");
    entry.rel_path = ReadText(value, "rel_path");
    entry.url = ReadText(value, "url");
    entry.sha256 = ReadText(value, "sha256");
    entry.size_bytes = ReadUint64(value, "size_bytes");
    entry.required = ReadBool(value, "required", true);

    if (entry.file_id.empty() || entry.file_id.size() > 128) return false;
    if (!IsAcceptedFileUrl(entry.url)) return false;
    if (entry.sha256.size() != 64 || !IsLowerHex(entry.sha256)) return false;
    if (entry.size_bytes < 1 || entry.size_bytes > kMaxManifestFileBytes) return false;
    if (checkRelPath && !IsSafeRelPath(entry.rel_path)) return false;
    return true;
}

bool ApplyManifestRules(const json& manifest, UpdateManifest& record,
                        uint64_t installedLauncherBuild, uint64_t installedGameBuild,
                        std::string_view baseFolder, int64_t lastPublishedAt, int64_t now) {
    if (!manifest.is_object() || ReadInt32(manifest, "schema_version", 0) != 1)
        return Fail(record, "unsupported_manifest_schema");

    // Every field is read before any check, so a key of the wrong type always wins.
    record.launcher_build = ReadUint64(manifest, "launcher_build");
    record.launcher_version = ReadText(manifest, "launcher_version");
    record.game_build = ReadUint64(manifest, "game_build");
    record.game_version = ReadText(manifest, "game_version");
    record.published_at = ReadInt64(manifest, "published_at");
    record.notes_en = ReadText(manifest, "notes_en");
    record.notes_ru = ReadText(manifest, "notes_ru");

    if (record.launcher_build < installedLauncherBuild || record.game_build < installedGameBuild)
        return Fail(record, "downgrade_rejected");
    if (record.published_at < 0) return Fail(record, "invalid_published_at");
    if (lastPublishedAt != 0 &&
        (record.published_at == 0 ||
         static_cast<uint64_t>(record.published_at) < static_cast<uint64_t>(lastPublishedAt)))
        return Fail(record, "rollback_rejected");

    if (record.published_at > 0) {
        const int64_t clock = now > 0 ? now : g_unixTimeNow();
        // Compared without overflow: published_at > clock + 86400.
        if (clock < INT64_MAX - 86400 && record.published_at > clock + 86400)
            return Fail(record, "manifest_timestamp_future");
        if (clock > 31536000 && record.published_at < clock - 31536000)
            return Fail(record, "manifest_timestamp_stale");
    }

    const auto launcher = manifest.find("launcher");
    if (launcher != manifest.end() && launcher->is_object()) {
        LauncherEntry entry;
        if (!ParseFileEntry(*launcher, false, entry)) return Fail(record, "invalid_launcher_entry");
        record.launcher = entry;
        if (record.launcher_build > installedLauncherBuild) {
            record.launcherUpdateAvailable = true;
            record.downloadBytesTotal += entry.size_bytes;
        }
    }

    const auto files = manifest.find("game_files");
    if (files != manifest.end() && files->is_array()) {
        if (files->size() > kMaxGameFiles) return Fail(record, "too_many_game_files");
        const std::u16string base = Utf8ToUtf16(baseFolder);
        for (const json& element : *files) {
            GameFileEntry entry;
            if (!ParseFileEntry(element, true, entry))
                return Fail(record, "invalid_game_file_entry");
            record.game_files.push_back(entry);
            uint64_t size = 0;
            std::string hex;
            const bool read = Sha256FileHex(GameFileLocalPath(base, entry.rel_path), size, hex);
            if (!read || size != entry.size_bytes || hex != entry.sha256) {
                record.filesToDownload.push_back(entry);
                record.downloadBytesTotal += entry.size_bytes;
            }
        }
        record.gameUpdateAvailable = !record.filesToDownload.empty();
    }

    record.valid = true;
    return true;
}

bool CheckSignedManifestText(std::string_view text, uint64_t installedLauncherBuild,
                             uint64_t installedGameBuild, std::string_view baseFolder,
                             UpdateManifest& manifest, int64_t lastPublishedAt, int64_t now) {
    try {
        const json content = json::parse(text, nullptr, true, false);
        return ApplyManifestRules(content, manifest, installedLauncherBuild, installedGameBuild,
                                  baseFolder, lastPublishedAt, now);
    } catch (...) {
        return ParseFailed(manifest);
    }
}

bool VerifyUpdateManifest(const char* body, size_t length, uint64_t installedLauncherBuild,
                          uint64_t installedGameBuild, std::string_view baseFolder,
                          UpdateManifest& manifest, const char* publicKey, size_t publicKeyLength,
                          int64_t lastPublishedAt, int64_t now) {
    manifest = UpdateManifest{};
    std::string text;
    try {
        const json envelope = json::parse(body, body + length, nullptr, true, false);
        if (!envelope.is_object()) return Fail(manifest, "bad_envelope");
        if (!ReadBool(envelope, "ok", false)) {
            const auto error = envelope.find("error");
            if (error == envelope.end()) return Fail(manifest, "server_error");
            if (!error->is_string()) RefuseType(*error, "error", "string");
            manifest.errorCode = error->get<std::string>();
            return false;
        }
        text = ReadText(envelope, "manifest_json");
        const std::string signature = ReadText(envelope, "signature_hex");
        if (text.empty() || signature.size() != 128) return Fail(manifest, "missing_signature");
        if (!VerifyManifestSignature(text, signature, std::string_view(publicKey, publicKeyLength)))
            return Fail(manifest, "invalid_signature");
    } catch (...) {
        return ParseFailed(manifest);
    }
    // Only the signed text is read for content from here on.
    manifest.signatureVerified = true;
    return CheckSignedManifestText(text, installedLauncherBuild, installedGameBuild, baseFolder,
                                   manifest, lastPublishedAt, now);
}
