// The publish verb: the manifest installers are given and the static update tree that any HTTPS
// server can serve. Host only (OpenSSL).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "tools/keys.h"

// What an installer at `now` (0 or less: the clock) would say of this manifest text, with nothing
// installed: the content rules, a launcher entry to install, and a positive published_at, without
// which a manifest would pass every installer forever. False with the rule's code in `error`.
bool CheckManifestForInstallers(std::string_view manifestText, int64_t now, std::string& error);

struct PublishRequest {
    std::string keyPath;  // PEM private key, or a pkcs11: URI
    std::string exePath;  // the client executable
    std::string version;  // launcher_version, also part of the served file name
    uint64_t build = 0;   // launcher_build
    std::string outDir;   // root of the tree
    int64_t publishedAt = 0;
    int64_t now = 0;  // the time of the publish, as installers check it; 0 or less: the clock
    std::string pkcs11Module = {};  // with a pkcs11: key: the token's module
    std::string pinFile = {};       // with a pkcs11: key: the file holding the user PIN
};

// The served file name of a payload: "VarnokClient-<version>-<first 16 hex digits of its
// SHA-256>.exe". Other bytes get another name, so a name once served never changes its content.
std::string PublishedFileName(std::string_view version, std::string_view sha256);

// The manifest text for one client executable.
std::string MakeLauncherManifest(const PublishRequest& request, std::string_view fileName,
                                 std::string_view sha256, uint64_t sizeBytes);

// Writes <outDir>/api/updates/files/<name> and then <outDir>/api/updates/manifest, each under a
// temporary name outside files/ first and put in place only once the manifest is signed, so a
// reader sees the old manifest or the new one, and either names a file that is there; then
// records the publish, with the time its manifest went live (`now`, or the clock), in
// api/updates/history.json. The client must be what installers take ("MZ", at least
// kMinClientExeBytes). An existing payload is never replaced: the identical file is reused,
// other bytes under its name are refused. Earlier payloads are never removed (that is
// PruneTree's). A failure before the manifest is in place leaves the served tree as it was.
// `servedName`, when given, receives the payload's name.
bool PublishClient(const PublishRequest& request, std::string& error,
                   std::string* servedName = nullptr);

// The signing step of PublishClient; tests swap in one that fails.
extern bool (*g_signToEnvelope)(const ManifestSigningKey& key, std::string_view manifestText,
                                std::string& envelope, std::string& error);
