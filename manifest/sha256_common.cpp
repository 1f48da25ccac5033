#include "common/files.h"
#include "game/file_queries.h"
#include "manifest/sha256.h"
#include "manifest/sha256_platform.h"

namespace {

// Both follow links, like the open that reads the file afterwards.
FileKind FileKindFollowDefault(const std::u16string& path) {
    const PathStatus status = g_pathStatus(path);
    if (!status.ok) return FileKind::missing;
    return (status.attributes & kAttributeDirectory) ? FileKind::other : FileKind::regular;
}

bool FileSizeFollowDefault(const std::u16string& path, uint64_t& size) {
    const PathStatus status = g_pathStatus(path);
    if (!status.ok || (status.attributes & kAttributeDirectory)) return false;
    size = status.size;
    return true;
}

int HexDigitValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

}  // namespace

FileKind (*g_fileKindFollow)(const std::u16string& path) = &FileKindFollowDefault;
bool (*g_fileSizeFollow)(const std::u16string& path, uint64_t& size) = &FileSizeFollowDefault;

std::string Sha256Hasher::FinishHex() {
    uint8_t digest[32];
    if (!FinishRaw(digest)) return {};
    return DigestToHex(digest);
}

std::string DigestToHex(const uint8_t* digest) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string hex(64, '0');
    for (size_t i = 0; i < 32; ++i) {
        hex[2 * i] = kDigits[digest[i] >> 4];
        hex[2 * i + 1] = kDigits[digest[i] & 0x0F];
    }
    return hex;
}

std::optional<std::vector<uint8_t>> DecodeHex(std::string_view text) {
    if (text.size() % 2 != 0) return std::nullopt;
    std::vector<uint8_t> bytes(text.size() / 2);
    for (size_t i = 0; i < bytes.size(); ++i) {
        const int high = HexDigitValue(text[2 * i]);
        const int low = HexDigitValue(text[2 * i + 1]);
        if (high < 0 || low < 0) return std::nullopt;
        bytes[i] = static_cast<uint8_t>(high << 4 | low);
    }
    return bytes;
}

bool Sha256FileHex(const std::u16string& path, uint64_t& size, std::string& hex) {
    size = 0;
    hex.clear();
    if (g_fileKindFollow(path) != FileKind::regular) return false;
    if (!g_fileSizeFollow(path, size)) {
        size = UINT64_MAX;
        return false;
    }
    // Shared with readers and writers alike: a file someone holds open is still hashed.
    const FileOwner in = OpenFileForReading(path);
    if (!in) return false;
    Sha256Hasher hasher;
    hasher.Open();
    if (!hasher.ready) return false;
    std::vector<char> buffer(65536);
    for (;;) {
        size_t got = 0;
        if (!ReadFromFile(in, buffer.data(), buffer.size(), got)) return false;
        if (got == 0) break;
        if (!hasher.Update(buffer.data(), got)) return false;
    }
    hex = hasher.FinishHex();
    return hex.size() == 64;
}

bool VerifyManifestSignature(std::string_view message, std::string_view signatureHex,
                             std::string_view publicKeyHex) {
    if (signatureHex.size() != 128 || publicKeyHex.size() != 128) return false;
    const auto signature = DecodeHex(signatureHex);
    if (!signature || signature->size() != 64) return false;
    const auto key = DecodeHex(publicKeyHex);
    if (!key || key->size() != 64) return false;

    Sha256Hasher hasher;
    hasher.Open();
    if (!hasher.ready) return false;
    if (!message.empty() && !hasher.Update(message.data(), message.size())) return false;
    uint8_t digest[32];
    if (!hasher.FinishRaw(digest)) return false;
    return sha256_detail::VerifyP256Digest(digest, signature->data(), key->data());
}

// The hash goes before the provider it was made from; the object buffer last.
void Sha256Hasher::Close() {
    ready = false;
    hash.reset();
    provider.reset();
    object.clear();
    object.shrink_to_fit();
}
