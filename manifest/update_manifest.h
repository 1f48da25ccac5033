// The signed update manifest: the envelope the server answers with, the content rules of the
// signed manifest text and the verified record the install worker uses.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json_fwd.hpp>

// One file of the manifest. The launcher uses the same record; its rel_path is never checked.
struct GameFileEntry {
    std::string file_id;
    std::string rel_path;
    std::string url;
    std::string sha256;
    uint64_t size_bytes = 0;
    bool required = true;
};
using LauncherEntry = GameFileEntry;

struct UpdateManifest {
    bool valid = false;
    bool signatureVerified = false;
    bool launcherUpdateAvailable = false;
    bool gameUpdateAvailable = false;
    uint64_t downloadBytesTotal = 0;
    std::string errorCode;
    uint64_t launcher_build = 0;
    std::string launcher_version;
    uint64_t game_build = 0;
    std::string game_version;
    int64_t published_at = 0;
    std::string notes_en;
    std::string notes_ru;
    std::optional<LauncherEntry> launcher;
    std::vector<GameFileEntry> game_files;
    std::vector<GameFileEntry> filesToDownload;
};

// The largest file a manifest may announce (256 MiB) and the most game files it may list.
inline constexpr uint64_t kMaxManifestFileBytes = 268435456;
inline constexpr size_t kMaxGameFiles = 512;
inline constexpr std::string_view kFileUrlPrefix = "/api/updates/files/";

// Turns a response body into a verified manifest or one error code: the envelope, the signature
// over the embedded manifest text under `publicKey`, then the content rules. `now` of 0 or less
// reads the system clock. No exception leaves it.
bool VerifyUpdateManifest(const char* body, size_t length, uint64_t installedLauncherBuild,
                          uint64_t installedGameBuild, std::string_view baseFolder,
                          UpdateManifest& manifest, const char* publicKey, size_t publicKeyLength,
                          int64_t lastPublishedAt, int64_t now);

// The content check of a manifest text whose signature has already been verified: parses the text
// and applies the content rules to the record VerifyUpdateManifest hands on (reset, with
// signatureVerified set). Any exception on the way gives "manifest_parse_failed"; none leaves it.
// It is the second half of VerifyUpdateManifest, a function of its own so that tests and the
// fuzzer reach the rules with texts no key has signed.
bool CheckSignedManifestText(std::string_view text, uint64_t installedLauncherBuild,
                             uint64_t installedGameBuild, std::string_view baseFolder,
                             UpdateManifest& manifest, int64_t lastPublishedAt, int64_t now);

// The content rules on the parsed, signature-checked manifest. May raise the JSON library's type
// error for a key of the wrong type; the envelope check turns it into "manifest_parse_failed".
bool ApplyManifestRules(const nlohmann::json& manifest, UpdateManifest& record,
                        uint64_t installedLauncherBuild, uint64_t installedGameBuild,
                        std::string_view baseFolder, int64_t lastPublishedAt, int64_t now);

// Reads one entry object and applies the entry rules; rel_path only when checkRelPath is set.
bool ParseFileEntry(const nlohmann::json& value, bool checkRelPath, GameFileEntry& entry);

// A game file's path below the base folder: '/'-separated printable ASCII components that cannot
// climb out, name a device or carry characters Windows refuses.
bool IsSafeRelPath(std::string_view path);
// CON, PRN, AUX, NUL, COM0-9 and LPT0-9 in any case, with or without an extension.
bool IsReservedDeviceName(std::string_view component);
// "/api/updates/files/" and a plain file name the server can serve.
bool IsAcceptedFileUrl(std::string_view url);

// Where a game file is looked for: the base folder, one backslash unless the folder is empty,
// ends in a separator or is a bare drive, then rel_path with its '/' kept.
std::u16string GameFileLocalPath(std::u16string_view baseFolder, std::string_view relPath);

// Whole seconds since 1970-01-01 UTC; replaceable in tests.
extern int64_t (*g_unixTimeNow)();
