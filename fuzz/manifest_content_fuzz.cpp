// Arbitrary bytes as a manifest text whose signature has already been checked, so that every
// input reaches the content rules. No local game file exists (the file question answers without
// the disk). Properties: no exception leaves the check; the result, `valid` and the error code
// agree; an accepted manifest keeps every rule (schema, time window, entries, counts and sums);
// the rules see the JSON value, not its spelling; and the installed builds and the last
// published time move the answer exactly at their edges.
#include <cstddef>
#include <cstdint>
#include <limits>
#include <set>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

#include "fuzz/property.h"
#include "manifest/sha256.h"
#include "manifest/update_manifest.h"

namespace {

constexpr int64_t kNow = 1800000000;
constexpr std::string_view kBase = "C:\\Games\\Morvanta";

// No game file is there: a missing path for some, something that is not a file for others.
FileKind NoLocalFile(const std::u16string& path) {
    return path.size() % 2 ? FileKind::missing : FileKind::other;
}
bool NoSize(const std::u16string&, uint64_t&) {
    return false;
}

const std::set<std::string> kContentCodes{"unsupported_manifest_schema", "downgrade_rejected",
                                          "invalid_published_at",        "rollback_rejected",
                                          "manifest_timestamp_future",   "manifest_timestamp_stale",
                                          "invalid_launcher_entry",      "too_many_game_files",
                                          "invalid_game_file_entry",     "manifest_parse_failed"};

bool IsLowerHex64(std::string_view text) {
    if (text.size() != 64) return false;
    for (char c : text)
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
    return true;
}

void CheckEntry(const GameFileEntry& entry, bool gameFile) {
    FUZZ_PROPERTY(!entry.file_id.empty() && entry.file_id.size() <= 128,
                  "file_id of 1 to 128 bytes");
    FUZZ_PROPERTY(IsAcceptedFileUrl(entry.url), "a url below the files folder");
    FUZZ_PROPERTY(IsLowerHex64(entry.sha256), "sha256 of 64 lower-case hex digits");
    FUZZ_PROPERTY(entry.size_bytes >= 1 && entry.size_bytes <= kMaxManifestFileBytes,
                  "size_bytes of 1 byte to 256 MiB");
    if (gameFile) FUZZ_PROPERTY(IsSafeRelPath(entry.rel_path), "a safe rel_path");
}

bool SameEntry(const GameFileEntry& a, const GameFileEntry& b) {
    return a.file_id == b.file_id && a.rel_path == b.rel_path && a.url == b.url &&
           a.sha256 == b.sha256 && a.size_bytes == b.size_bytes && a.required == b.required;
}

UpdateManifest Check(std::string_view text, uint64_t launcherBuild, uint64_t gameBuild,
                     int64_t lastPublishedAt) {
    UpdateManifest record;
    record.signatureVerified = true;
    bool result = false;
    try {
        result = CheckSignedManifestText(text, launcherBuild, gameBuild, kBase, record,
                                         lastPublishedAt, kNow);
    } catch (...) {
        FUZZ_PROPERTY(false, "no exception leaves the content check");
    }
    FUZZ_PROPERTY(result == record.valid, "the result is the valid flag");
    FUZZ_PROPERTY(record.signatureVerified, "the content check keeps the signature flag");
    if (!result) {
        FUZZ_PROPERTY(kContentCodes.count(record.errorCode) == 1, "a refusal names a known code");
        return record;
    }
    FUZZ_PROPERTY(record.errorCode.empty(), "an accepted manifest carries no code");
    FUZZ_PROPERTY(record.launcher_build >= launcherBuild && record.game_build >= gameBuild,
                  "no downgrade");
    FUZZ_PROPERTY(record.published_at >= 0, "published_at is not negative");
    if (lastPublishedAt != 0)
        FUZZ_PROPERTY(record.published_at != 0 && record.published_at >= lastPublishedAt,
                      "no rollback");
    if (record.published_at > 0)
        FUZZ_PROPERTY(record.published_at <= kNow + 86400 && record.published_at >= kNow - 31536000,
                      "published within a year back and a day ahead");

    uint64_t total = 0;
    if (record.launcher) {
        CheckEntry(*record.launcher, false);
        FUZZ_PROPERTY(record.launcherUpdateAvailable == (record.launcher_build > launcherBuild),
                      "a launcher update exactly when its build is newer");
        if (record.launcherUpdateAvailable) total += record.launcher->size_bytes;
    } else {
        FUZZ_PROPERTY(!record.launcherUpdateAvailable, "no launcher, no launcher update");
    }
    FUZZ_PROPERTY(record.game_files.size() <= kMaxGameFiles, "at most 512 game files");
    FUZZ_PROPERTY(record.filesToDownload.size() == record.game_files.size(),
                  "with no local files every game file is to download");
    for (size_t i = 0; i < record.game_files.size(); ++i) {
        CheckEntry(record.game_files[i], true);
        FUZZ_PROPERTY(SameEntry(record.game_files[i], record.filesToDownload[i]),
                      "the download list copies the entries in order");
        total += record.game_files[i].size_bytes;
    }
    FUZZ_PROPERTY(record.downloadBytesTotal == total, "the download total is the sum");
    FUZZ_PROPERTY(record.gameUpdateAvailable == !record.filesToDownload.empty(),
                  "a game update exactly when a file is to download");
    return record;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const bool installed = [] {
        g_fileKindFollow = &NoLocalFile;
        g_fileSizeFollow = &NoSize;
        return true;
    }();
    (void)installed;
    const std::string_view text(reinterpret_cast<const char*>(data), size);

    // The installer's own arguments: nothing installed, no earlier manifest.
    const UpdateManifest first = Check(text, 0, 0, 0);

    // The same value in the library's own spelling gets the same answer.
    const nlohmann::json value = nlohmann::json::parse(text, nullptr, false, false);
    if (value.is_discarded()) {
        FUZZ_PROPERTY(first.errorCode == "manifest_parse_failed", "text that is no JSON value");
        return 0;
    }
    const UpdateManifest respelled = Check(value.dump(), 0, 0, 0);
    FUZZ_PROPERTY(respelled.valid == first.valid && respelled.errorCode == first.errorCode,
                  "the rules answer the value, not its spelling");
    if (!first.valid) return 0;

    // Installed builds and a last published time equal to the manifest's own are accepted, and
    // then there is no launcher update.
    const int64_t last = first.published_at;
    const UpdateManifest same = Check(text, first.launcher_build, first.game_build, last);
    FUZZ_PROPERTY(same.valid, "the installed builds and the last time themselves are accepted");
    FUZZ_PROPERTY(!same.launcherUpdateAvailable, "no update to the installed build");
    // One more than the manifest's build is a downgrade; one second later a rollback.
    if (first.launcher_build < std::numeric_limits<uint64_t>::max())
        FUZZ_PROPERTY(Check(text, first.launcher_build + 1, 0, 0).errorCode == "downgrade_rejected",
                      "an older launcher build is a downgrade");
    if (first.game_build < std::numeric_limits<uint64_t>::max())
        FUZZ_PROPERTY(Check(text, 0, first.game_build + 1, 0).errorCode == "downgrade_rejected",
                      "an older game build is a downgrade");
    if (last > 0)
        FUZZ_PROPERTY(Check(text, 0, 0, last + 1).errorCode == "rollback_rejected",
                      "a manifest older than the last one is a rollback");
    return 0;
}
