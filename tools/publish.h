// The publisher's side of the signed manifest: key pairs, signatures, envelopes and the static
// update tree that any HTTPS server can serve. Host only (OpenSSL).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "tools/token.h"

struct ManifestKeyPair {
    std::string privatePem;  // PKCS#8 PEM
    std::string publicHex;   // 128 lower-case hex digits, X then Y: the value the build takes
};

// A fresh P-256 key pair.
bool GenerateManifestKey(ManifestKeyPair& pair, std::string& error);

// The public half of a PEM private key as the build's 128 hex digits.
bool PublicKeyHexFromPem(std::string_view privatePem, std::string& publicHex, std::string& error);

// ECDSA P-256 over SHA-256 of `message` exactly as given, as 128 hex digits (r then s). The
// nonce is derived from the key and the digest, so the same text always gets the same signature
// and no random source can leak the key.
bool SignManifestText(std::string_view privatePem, std::string_view message,
                      std::string& signatureHex, std::string& error);

// The server's answer: {"ok": true, "manifest_json": <the exact text>, "signature_hex": ...}.
bool MakeEnvelope(std::string_view manifestText, std::string_view signatureHex,
                  std::string& envelope, std::string& error);

// Signs `manifestText` with the key in `privatePem` and wraps it into the envelope.
bool SignToEnvelope(std::string_view privatePem, std::string_view manifestText,
                    std::string& envelope, std::string& error);

// Where the manifest's private key is: the text of a PEM file, or a key in a PKCS#11 token.
struct ManifestSigningKey {
    std::string pem;
    TokenKeyRef token;  // the key when token.uri is set
};

// The key a --key argument names: a PEM file, or a pkcs11: URI with the token's module and PIN
// file (which only a URI takes), and its public half. Errors name the file or the URI.
bool OpenManifestSigningKey(const std::string& keyArgument, const std::string& modulePath,
                            const std::string& pinFile, ManifestSigningKey& key,
                            std::string& publicHex, std::string& error);

// SignToEnvelope with either kind of key.
bool SignToEnvelopeWith(const ManifestSigningKey& key, std::string_view manifestText,
                        std::string& envelope, std::string& error);

// The public hex and a newline as a new file (an existing file or a link is never opened).
bool WriteNewPublicKeyFile(const std::string& path, const std::string& publicHex,
                           std::string& error);

// Writes a fresh pair: the private PEM to `privatePath` with mode 0600 and, when `publicPath` is
// not empty, the public hex and a newline to it. Each file is created new: an existing file or a
// link in its place is never opened, and the two paths must differ. When either file cannot be
// made whole, neither is left behind.
bool WriteNewKeyFiles(const ManifestKeyPair& pair, const std::string& privatePath,
                      const std::string& publicPath, std::string& error);

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
    int64_t now = 0;  // the time installers are assumed to check it at; 0 or less: the clock
    std::string pkcs11Module = {};  // with a pkcs11: key: the token's module
    std::string pinFile = {};       // with a pkcs11: key: the file holding the user PIN
};

// The served file name of a version: "VarnokClient-<version>.exe".
std::string PublishedFileName(std::string_view version);

// The manifest text for one client executable.
std::string MakeLauncherManifest(const PublishRequest& request, std::string_view fileName,
                                 std::string_view sha256, uint64_t sizeBytes);

// Writes <outDir>/api/updates/files/<name> and then <outDir>/api/updates/manifest, each under a
// temporary name first and renamed into place only once the manifest is signed, so a reader sees
// the old pair or the new one. A failure leaves the served tree as it was.
bool PublishClient(const PublishRequest& request, std::string& error);

// The signing step of PublishClient; tests swap in one that fails.
extern bool (*g_signToEnvelope)(const ManifestSigningKey& key, std::string_view manifestText,
                                std::string& envelope, std::string& error);

bool ReadWholeFile(const std::string& path, std::string& bytes, std::string& error);
