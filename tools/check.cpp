#include "tools/check.h"

#include <filesystem>
#include <fstream>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

#include "common/scoped_override.h"
#include "common/text.h"
#include "install/install_worker.h"
#include "manifest/sha256.h"
#include "manifest/update_manifest.h"
#include "net/https.h"
#include "tools/key_files.h"
#include "tools/keys.h"
#include "tools/token.h"

namespace fs = std::filesystem;

namespace {

// Enough of a key for a person to tell two apart.
std::string KeyPrefix(const std::string& hex) {
    return hex.substr(0, 16) + "...";
}

bool IsKeyHex(std::string_view text) {
    if (text.size() != 128) return false;
    for (char c : text)
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
    return true;
}

std::string Trimmed(std::string text) {
    const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    while (!text.empty() && blank(text.back())) text.pop_back();
    size_t start = 0;
    while (start < text.size() && blank(text[start])) ++start;
    return text.substr(start);
}

std::string Lowered(std::string text) {
    for (char& c : text)
        if (c >= 'A' && c <= 'F') c = static_cast<char>(c - 'A' + 'a');
    return text;
}

bool ReadHead(const std::string& path, size_t count, std::string& head) {
    std::ifstream in(path, std::ios::binary);
    head.assign(count, '\0');
    in.read(head.data(), static_cast<std::streamsize>(count));
    head.resize(static_cast<size_t>(in.gcount()));
    return !in.bad();
}

FileKind NothingInstalled(const std::u16string&) {
    return FileKind::missing;
}

// Who signed an envelope that does not verify under the given key, as far as the signature tells.
std::string SignerOf(const std::string& envelope) {
    std::vector<std::string> keys;
    try {
        const nlohmann::json value = nlohmann::json::parse(envelope);
        keys = RecoverSignerKeys(value.at("manifest_json").get<std::string>(),
                                 value.at("signature_hex").get<std::string>());
    } catch (const nlohmann::json::exception&) {
    }
    if (keys.empty()) return "a signature from which no key can be recovered";
    std::string names = "the key " + KeyPrefix(keys[0]);
    for (size_t i = 1; i < keys.size(); ++i) names += " or " + KeyPrefix(keys[i]);
    return names + (keys.size() > 1 ? " (the signature alone cannot tell which)" : "");
}

}  // namespace

bool CheckClientExecutable(const std::string& path, uint64_t size, std::string& error) {
    std::string head;
    if (!ReadHead(path, 2, head)) {
        error = "cannot read " + path;
        return false;
    }
    if (LooksLikeClientExe(head, size)) return true;
    error = path +
            " is not what installers take as the client: it must start with \"MZ\" "
            "and have at least " +
            std::to_string(kMinClientExeBytes) + " bytes (not_an_executable)";
    return false;
}

bool ReadPublicKeyHex(const std::string& keyOrFile, std::string& publicHex, std::string& error) {
    std::string text = Lowered(Trimmed(keyOrFile));
    // Taken for a file name, a URI (perhaps with the PIN in it) would be echoed whole.
    if (IsTokenUri(keyOrFile)) {
        error =
            "the public key must be 128 hex digits or a file holding them, not a token's pkcs11: "
            "URI (keygen --pub wrote the key's public half)";
        return false;
    }
    if (!IsKeyHex(text)) {
        std::string content;
        if (!ReadWholeFile(keyOrFile, content, error)) {
            error = "the public key must be 128 hex digits or a file holding them; " + error;
            return false;
        }
        text = Lowered(Trimmed(content));
        if (!IsKeyHex(text)) {
            error = keyOrFile + " does not hold a public key of 128 hex digits";
            return false;
        }
    }
    publicHex = text;
    return true;
}

bool CheckUpdateTree(const CheckRequest& request, std::string& summary, std::string& error,
                     std::string* envelopeOut) {
    std::string key;
    if (!ReadPublicKeyHex(request.publicKey, key, error)) return false;
    const fs::path updates = fs::path(request.treeDir) / "api" / "updates";
    const std::string manifestPath = (updates / "manifest").string();
    std::string envelope;
    if (!ReadWholeFile(manifestPath, envelope, error)) return false;
    if (envelope.size() > kManifestByteLimit) {
        error = manifestPath + " is " + std::to_string(envelope.size()) +
                " bytes; installers read at most " + std::to_string(kManifestByteLimit);
        return false;
    }

    UpdateManifest manifest;
    VerifyAsNewInstall(envelope, key, request.now, manifest);
    if (!manifest.valid && manifest.errorCode == "invalid_signature") {
        error = manifestPath + " does not verify with the key " + KeyPrefix(key) +
                " (invalid_signature): it was signed by " + SignerOf(envelope) +
                ". Installers built with " + KeyPrefix(key) + " would refuse every install.";
        return false;
    }
    if (!manifest.valid) {
        error = "installers would refuse " + manifestPath + " (" + manifest.errorCode + ")";
        return false;
    }
    if (!manifest.launcher) {
        error = manifestPath +
                " has no launcher object, so installers have nothing to install "
                "(missing_launcher_entry)";
        return false;
    }

    const std::string name = manifest.launcher->url.substr(kFileUrlPrefix.size());
    const std::string payload = (updates / "files" / name).string();
    uint64_t size = 0;
    std::string digest;
    if (!Sha256FileHex(Utf8ToUtf16(payload), size, digest)) {
        error = "the manifest names " + manifest.launcher->url + ", but " + payload +
                " is not a readable file";
        return false;
    }
    if (size != manifest.launcher->size_bytes || digest != manifest.launcher->sha256) {
        error = payload + " has " + std::to_string(size) + " bytes with SHA-256 " + digest +
                "; the manifest names " + std::to_string(manifest.launcher->size_bytes) +
                " bytes with SHA-256 " + manifest.launcher->sha256 +
                (size != manifest.launcher->size_bytes ? " (size_mismatch)" : " (sha256_mismatch)");
        return false;
    }
    if (!CheckClientExecutable(payload, size, error)) return false;
    summary = manifestPath + " verifies with the key " + KeyPrefix(key) + ": launcher " +
              manifest.launcher_version + " build " + std::to_string(manifest.launcher_build) +
              ", published_at " + std::to_string(manifest.published_at) + "; " + payload +
              " has its " + std::to_string(size) + " bytes and SHA-256";
    if (envelopeOut) *envelopeOut = std::move(envelope);
    return true;
}

bool VerifyAsNewInstall(std::string_view envelope, const std::string& publicHex, int64_t now,
                        UpdateManifest& manifest) {
    // Installers compare game files with their own folder; nothing of this machine is read.
    ScopedOverride<FileKind (*)(const std::u16string&)> nothing(g_fileKindFollow,
                                                                &NothingInstalled);
    return VerifyUpdateManifest(envelope.data(), envelope.size(), 0, 0, "", manifest,
                                publicHex.data(), publicHex.size(), 0, now);
}
