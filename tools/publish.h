// The publisher's side of the signed manifest: key pairs, signatures, envelopes and the static
// update tree that any HTTPS server can serve. Host only (OpenSSL).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

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

struct PublishRequest {
    std::string keyPath;  // PEM private key
    std::string exePath;  // the client executable
    std::string version;  // launcher_version, also part of the served file name
    uint64_t build = 0;   // launcher_build
    std::string outDir;   // root of the tree
    int64_t publishedAt = 0;
};

// The served file name of a version: "VarnokClient-<version>.exe".
std::string PublishedFileName(std::string_view version);

// The manifest text for one client executable.
std::string MakeLauncherManifest(const PublishRequest& request, std::string_view fileName,
                                 std::string_view sha256, uint64_t sizeBytes);

// Writes <outDir>/api/updates/manifest and <outDir>/api/updates/files/<name>.
bool PublishClient(const PublishRequest& request, std::string& error);

bool ReadWholeFile(const std::string& path, std::string& bytes, std::string& error);
