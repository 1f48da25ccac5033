// What the publisher's tool tests share.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "manifest/update_manifest.h"
#include "tests/support/scratch.h"

extern const std::string kDevPemPath;
inline constexpr int64_t kNow = 1800000000;

std::string DevPem();
std::string DevPublicHex();

UpdateManifest VerifyBody(const std::string& body, const std::string& key, int64_t now = kNow,
                          const std::string& base = "");

struct ToolRun {
    int exitCode;
    std::string out;
    std::string err;
};

// The built tool with the given arguments (already quoted as needed).
ToolRun RunTool(const ScratchDir& dir, const std::string& arguments);

int64_t UnixNow();
std::string Quote(const std::filesystem::path& path);

// A manifest an installer takes, but for the members given (raw JSON text, spliced in).
std::string LauncherManifest(const std::string& publishedAt, const std::string& schema = "1",
                             const std::string& url = "/api/updates/files/c.exe");

// The names in a folder, sorted.
std::vector<std::string> Listing(const std::filesystem::path& folder);

// 64 lower-case hex digits of the bytes' SHA-256.
std::string Sha256Of(const std::string& bytes);

// "VarnokClient-<version>-<first 16 hex digits of the bytes' SHA-256>.exe".
std::string ServedName(const std::string& version, const std::string& bytes);

// Publishes `bytes` (through <dir>/client.exe) into <dir>/tree with the development key,
// published_at kNow, at `now`.
bool PublishBytes(const ScratchDir& dir, const std::string& version, uint64_t build,
                  const std::string& bytes, std::string& error, std::string* served = nullptr,
                  int64_t now = kNow);

// A file installers take as the client: "MZ" and `size` bytes that differ with `seed`.
std::string ClientBytes(size_t size, int seed = 0);

struct Control {
    long status = 0;
    std::string body;
};

// An unsigned request to the fault server's bucket controls (seed, rule, dump): a PUT of `body`
// when given, else a GET.
Control Ask(const std::string& url, const std::string* body = nullptr,
            const std::vector<std::string>& headers = {});
