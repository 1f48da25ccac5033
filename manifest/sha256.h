// SHA-256 digests and the ECDSA P-256 check of the update manifest's signature. On Windows the
// work is done by CNG; the host build puts OpenSSL's libcrypto behind the same functions, and
// both map every failure to the same false or empty results.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/unique_handle.h"

namespace sha256_detail {
// Release functions of the platform's provider and hash objects (BCrypt handles on Windows,
// OpenSSL digest objects on the host).
void CloseProvider(void* provider);
void DestroyHash(void* hash);
}  // namespace sha256_detail

// One streaming digest. Open it, check `ready`, feed it with Update and read the 64 lower-case
// hex digits once with FinishHex. A hasher whose Open failed gives empty text, never a digest.
struct Sha256Hasher {
    UniqueHandle<void*, &sha256_detail::CloseProvider> provider;
    UniqueHandle<void*, &sha256_detail::DestroyHash> hash;
    // The hash object's memory, in the size the provider asks for (empty on the host).
    std::vector<uint8_t> object;
    bool ready = false;

    Sha256Hasher() = default;
    ~Sha256Hasher() { Close(); }
    Sha256Hasher(const Sha256Hasher&) = delete;
    Sha256Hasher& operator=(const Sha256Hasher&) = delete;

    void Open();
    // Call only when ready; false means the digest must be abandoned.
    bool Update(const void* bytes, size_t count);
    // Empty text when the hasher is not ready or the provider fails.
    std::string FinishHex();
    // The 32 raw digest bytes; false when not ready or the provider fails.
    bool FinishRaw(uint8_t* digest);
    // Destroys the hash, then the provider, then frees the object memory.
    void Close();
};

// Size and digest of a regular file (links followed), read in 64 KiB chunks. False for a missing
// path, a folder or an unreadable file; size stays 0 for the first two and becomes all ones when
// the size query itself fails.
bool Sha256FileHex(const std::u16string& path, uint64_t& size, std::string& hex);

// The platform's file questions, replaceable in tests: is the path (links followed) a regular
// file, and its size (links followed).
enum class FileKind { missing, regular, other };
extern FileKind (*g_fileKindFollow)(const std::u16string& path);
extern bool (*g_fileSizeFollow)(const std::u16string& path, uint64_t& size);

// Pairs of hex digits, either letter case; an odd length or any other character fails.
std::optional<std::vector<uint8_t>> DecodeHex(std::string_view text);

// 64 lower-case hex digits of 32 digest bytes.
std::string DigestToHex(const uint8_t* digest);

// ECDSA P-256 over the SHA-256 of `message` exactly as given; the signature is 128 hex digits
// (r then s, 32 bytes each, big-endian) and the key 128 hex digits (X then Y).
bool VerifyManifestSignature(std::string_view message, std::string_view signatureHex,
                             std::string_view publicKeyHex);
