// The check verb: an update tree on disk judged as an installer built with a given key would
// judge what it serves, before anything is built for that key.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

struct UpdateManifest;

struct CheckRequest {
    std::string treeDir;    // the root of the update tree
    std::string publicKey;  // 128 hex digits, or a file holding them (as keygen --pub writes)
    int64_t now = 0;        // the time installers are assumed to check it at
};

// Reads <tree>/api/updates/manifest within the installer's byte limit, verifies it with the
// installer's own VerifyUpdateManifest under the key at `now`, and checks that the payload it
// names is in the tree with its size and SHA-256. A manifest signed by another key is refused with
// the first bytes of both keys: the given one and the signer's, recovered from the signature.
// `summary` says what was found; `envelope`, when given, receives the very bytes judged.
bool CheckUpdateTree(const CheckRequest& request, std::string& summary, std::string& error,
                     std::string* envelope = nullptr);

// What installers check of the client once its size and digest hold: "MZ" first and at least
// kMinClientExeBytes. `size` is the file's size; false with not_an_executable in `error`.
bool CheckClientExecutable(const std::string& path, uint64_t size, std::string& error);

// The 128 hex digits in `keyOrFile` (the text itself, or the file it names), in lower case.
bool ReadPublicKeyHex(const std::string& keyOrFile, std::string& publicHex, std::string& error);

// VerifyUpdateManifest as a new install judges a served envelope under `publicHex` at `now` (0:
// the clock): nothing installed, and no file of this machine read for the game-file entries.
bool VerifyAsNewInstall(std::string_view envelope, const std::string& publicHex, int64_t now,
                        UpdateManifest& manifest);
