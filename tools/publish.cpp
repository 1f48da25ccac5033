#include "tools/publish.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <system_error>

#include <nlohmann/json.hpp>

#include "common/scope_exit.h"
#include "common/scoped_override.h"
#include "common/text.h"
#include "manifest/sha256.h"
#include "manifest/update_manifest.h"
#include "tools/check.h"
#include "tools/history.h"
#include "tools/key_files.h"
#include "tools/keys.h"

namespace fs = std::filesystem;

namespace {

FileKind NothingInstalled(const std::u16string&) {
    return FileKind::missing;
}

int64_t UnixClock() {
    return static_cast<int64_t>(std::time(nullptr));
}

}  // namespace

std::string PublishedFileName(std::string_view version, std::string_view sha256) {
    return "VarnokClient-" + std::string(version) + "-" + std::string(sha256.substr(0, 16)) +
           ".exe";
}

std::string MakeLauncherManifest(const PublishRequest& request, std::string_view fileName,
                                 std::string_view sha256, uint64_t sizeBytes) {
    nlohmann::ordered_json launcher;
    launcher["file_id"] = "varnok-client";
    launcher["rel_path"] = "VarnokClient.exe";
    launcher["url"] = std::string(kFileUrlPrefix) + std::string(fileName);
    launcher["sha256"] = std::string(sha256);
    launcher["size_bytes"] = sizeBytes;
    launcher["required"] = true;
    nlohmann::ordered_json manifest;
    manifest["schema_version"] = 1;
    manifest["launcher_build"] = request.build;
    manifest["launcher_version"] = request.version;
    manifest["game_build"] = 0;
    manifest["game_version"] = "";
    manifest["published_at"] = request.publishedAt;
    manifest["notes_en"] = "";
    manifest["notes_ru"] = "";
    manifest["launcher"] = launcher;
    return manifest.dump(2);
}

bool CheckManifestForInstallers(std::string_view manifestText, int64_t now, std::string& error) {
    UpdateManifest record;
    std::string code;
    try {
        const nlohmann::json value =
            nlohmann::json::parse(manifestText.begin(), manifestText.end(), nullptr, true, false);
        // Installers compare game files with what their folder holds; here nothing is installed,
        // and no local file is read.
        ScopedOverride<FileKind (*)(const std::u16string&)> nothing(g_fileKindFollow,
                                                                    &NothingInstalled);
        if (!ApplyManifestRules(value, record, 0, 0, "", 0, now)) code = record.errorCode;
    } catch (...) {
        code = "manifest_parse_failed";
    }
    if (!code.empty()) {
        error = "every installer would refuse this manifest (" + code + ")";
        return false;
    }
    if (record.published_at <= 0) {
        error =
            "the manifest needs a positive published_at (invalid_published_at): without one "
            "installers take it at any age, so it could be replayed forever";
        return false;
    }
    if (!record.launcher) {
        error =
            "the manifest has no launcher object, so installers have nothing to install "
            "(missing_launcher_entry)";
        return false;
    }
    return true;
}

bool (*g_signToEnvelope)(const ManifestSigningKey& key, std::string_view manifestText,
                         std::string& envelope, std::string& error) = &SignToEnvelopeWith;

namespace {

// Puts the new payload at `served` without ever replacing a file there: a payload, once served,
// is what edges and installers may hold for a year under that name. An identical file is reused;
// other bytes under the name are refused. `created` says whether the name is new.
bool PlacePayload(const fs::path& temporary, const fs::path& served, uint64_t size,
                  const std::string& digest, bool& created, std::string& error) {
    created = link(temporary.c_str(), served.c_str()) == 0;
    if (created) return true;
    if (errno != EEXIST) {
        error = "cannot place " + served.string() + ": " + std::strerror(errno);
        return false;
    }
    uint64_t existingSize = 0;
    std::string existingDigest;
    if (Sha256FileHex(Utf8ToUtf16(served.string()), existingSize, existingDigest) &&
        existingSize == size && existingDigest == digest)
        return true;
    error = served.string() + " already exists with other bytes (" + std::to_string(existingSize) +
            " bytes, SHA-256 " + existingDigest +
            "); a published payload never changes, so it was left as it is and nothing was "
            "published (payload_exists_with_other_bytes)";
    return false;
}

}  // namespace

bool PublishClient(const PublishRequest& request, std::string& error, std::string* servedName) {
    // The digest is not known yet; a placeholder of its length checks the name's rules.
    const std::string nameShape = PublishedFileName(request.version, std::string(64, '0'));
    if (request.version.empty() || !IsAcceptedFileUrl(std::string(kFileUrlPrefix) + nameShape)) {
        error = "version \"" + request.version + "\" gives the file name \"" +
                PublishedFileName(request.version, "<sha256>") +
                "\", which the installer refuses (allowed: A-Z a-z 0-9 . _ -, at most 128 "
                "characters, no \"..\")";
        return false;
    }
    if (request.build == 0) {
        error = "the build must be 1 or more";
        return false;
    }
    if (request.publishedAt <= 0) {
        error = "published_at must be a positive Unix time";
        return false;
    }
    ManifestSigningKey key;
    if (std::string publicHex; !OpenManifestSigningKey(request.keyPath, request.pkcs11Module,
                                                       request.pinFile, key, publicHex, error))
        return false;

    std::error_code ec;
    if (!fs::is_regular_file(request.exePath, ec)) {
        error = "cannot read " + request.exePath + ": not a regular file";
        return false;
    }
    const uintmax_t size = fs::file_size(request.exePath, ec);
    if (ec) {
        error = "cannot read " + request.exePath + ": " + ec.message();
        return false;
    }
    if (size < 1 || size > kMaxManifestFileBytes) {
        error = request.exePath + " is " + std::to_string(size) +
                " bytes; the installer accepts 1 to 268435456 bytes";
        return false;
    }
    // A tree whose client every installer refuses would be live until the next publish.
    if (!CheckClientExecutable(request.exePath, size, error)) return false;
    // Everything but the digest is known now: a manifest installers would refuse (a published_at
    // they take as stale or future) stops the publish before the tree is touched.
    if (!CheckManifestForInstallers(
            MakeLauncherManifest(request, nameShape, std::string(64, '0'), size), request.now,
            error))
        return false;

    const fs::path updates = fs::path(request.outDir) / "api" / "updates";
    const fs::path files = updates / "files";
    fs::create_directories(files, ec);
    if (ec) {
        error = "cannot create " + files.string() + ": " + ec.message();
        return false;
    }
    const FileOwner lock = LockUpdatesDir(updates.string(), error);
    std::vector<PublishedEntry> history;
    if (!lock || !ReadHistory(updates.string(), history, error)) return false;

    // Temporary files lie beside the manifest, outside files/ (which a server serves whole), on
    // the same file system so that placing them is one step. Their names start with a dot, which
    // no manifest may name and no server configured here serves, and carry the process id so that
    // two publishers never share one.
    const std::string suffix = "." + std::to_string(getpid()) + ".tmp";
    const fs::path payloadTemp = updates / (".VarnokClient-" + request.version + suffix);
    const fs::path manifestPath = updates / "manifest";
    const fs::path manifestTemp = updates / (".manifest" + suffix);
    fs::remove(payloadTemp, ec);
    fs::remove(manifestTemp, ec);
    fs::path placed;  // a payload this call added, taken back if the manifest never names it
    ScopeExit cleanUp([&] {
        std::error_code ignored;
        fs::remove(payloadTemp, ignored);
        fs::remove(manifestTemp, ignored);
        if (!placed.empty()) fs::remove(placed, ignored);
    });

    // The copy is what gets hashed, so the manifest describes exactly the bytes that are served.
    if (!CopyToNewFile(request.exePath, payloadTemp.string(), error)) return false;
    uint64_t servedSize = 0;
    std::string digest;
    if (!Sha256FileHex(Utf8ToUtf16(payloadTemp.string()), servedSize, digest) ||
        servedSize != size) {
        error = "cannot hash " + payloadTemp.string();
        return false;
    }
    if (!CheckClientExecutable(payloadTemp.string(), servedSize, error)) return false;
    const std::string fileName = PublishedFileName(request.version, digest);
    const fs::path served = files / fileName;

    const std::string manifest = MakeLauncherManifest(request, fileName, digest, servedSize);
    std::string envelope;
    if (!CheckManifestForInstallers(manifest, request.now, error) ||
        !g_signToEnvelope(key, manifest, envelope, error) ||
        !WriteNewFile(manifestTemp.string(), envelope, 0644, error))
        return false;

    // The payload first, so the new manifest never names a file that is not there yet.
    bool created = false;
    if (!PlacePayload(payloadTemp, served, servedSize, digest, created, error)) return false;
    if (created) placed = served;
    if (!g_syncFolder(files.string(), error)) return false;
    fs::rename(manifestTemp, manifestPath, ec);
    if (ec) {
        error = "cannot move " + manifestTemp.string() + " to " + manifestPath.string() + ": " +
                ec.message();
        return false;
    }
    placed.clear();  // the manifest in view names it now
    if (servedName) *servedName = fileName;
    // The history records only what went live, and when: a prune counts a payload's time out of
    // view from the moment the next manifest replaced its own. The lock keeps a prune out until
    // then; a publish that stops here leaves its payload unrecorded, so no prune ever takes it,
    // nor the one before it, whose replacement is not recorded either.
    history.push_back({request.version, request.build, fileName, digest, servedSize,
                       request.publishedAt, request.now > 0 ? request.now : UnixClock()});
    if (g_syncFolder(updates.string(), error) && WriteHistory(updates.string(), history, error))
        return true;
    error = "the manifest is in place, but " + error +
            "; unless the history records this publish, prune keeps its payload and the one "
            "before it";
    return false;
}
