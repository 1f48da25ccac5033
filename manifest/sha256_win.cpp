#include <windows.h>
#include <bcrypt.h>

#include <algorithm>
#include <cstring>

#include "common/handles_win.h"
#include "manifest/sha256.h"
#include "manifest/sha256_platform.h"

namespace {
bool Ok(NTSTATUS status) {
    return status == 0;
}
}  // namespace

namespace sha256_detail {
void CloseProvider(void* provider) {
    syslib::BCryptCloseAlgorithmProvider(provider, 0);
}
void DestroyHash(void* hash) {
    syslib::BCryptDestroyHash(hash);
}
}  // namespace sha256_detail

void Sha256Hasher::Open() {
    Close();
    if (!Ok(syslib::BCryptOpenAlgorithmProvider(provider.put(), BCRYPT_SHA256_ALGORITHM, nullptr,
                                                0)))
        return;
    // The object size differs between Windows versions (and Wine), so it is always asked for.
    DWORD length = 0;
    ULONG written = 0;
    if (!Ok(syslib::BCryptGetProperty(provider.get(), BCRYPT_OBJECT_LENGTH,
                                      reinterpret_cast<PUCHAR>(&length), sizeof(length), &written,
                                      0)))
        return;
    object.assign(length, 0);
    if (!Ok(syslib::BCryptCreateHash(provider.get(), hash.put(), object.data(), length, nullptr, 0,
                                     0)))
        return;
    ready = true;
}

bool Sha256Hasher::Update(const void* bytes, size_t count) {
    if (!ready) return false;
    auto* next = static_cast<PUCHAR>(const_cast<void*>(bytes));
    // BCryptHashData counts in 32 bits; larger inputs go in pieces.
    while (count > 0) {
        const ULONG piece = static_cast<ULONG>(std::min<size_t>(count, 0x40000000));
        if (!Ok(syslib::BCryptHashData(hash.get(), next, piece, 0))) return false;
        next += piece;
        count -= piece;
    }
    return true;
}

bool Sha256Hasher::FinishRaw(uint8_t* digest) {
    if (!ready) return false;
    return Ok(syslib::BCryptFinishHash(hash.get(), digest, 32, 0));
}

namespace sha256_detail {

bool VerifyP256Digest(const uint8_t* digest, const uint8_t* signature, const uint8_t* publicKey) {
    // Declared first so that the key is destroyed before its provider is closed.
    UniqueAlgorithm ecdsa;
    if (!Ok(syslib::BCryptOpenAlgorithmProvider(ecdsa.put(), BCRYPT_ECDSA_P256_ALGORITHM, nullptr,
                                                0)) ||
        !ecdsa)
        return false;

    UCHAR blob[72] = {};
    const ULONG magic = BCRYPT_ECDSA_PUBLIC_P256_MAGIC;
    const ULONG keyBytes = 32;
    memcpy(blob, &magic, 4);
    memcpy(blob + 4, &keyBytes, 4);
    memcpy(blob + 8, publicKey, 64);
    UniqueKey key;
    if (!Ok(syslib::BCryptImportKeyPair(ecdsa.get(), nullptr, BCRYPT_ECCPUBLIC_BLOB, key.put(),
                                        blob, sizeof(blob), 0)) ||
        !key)
        return false;

    return Ok(syslib::BCryptVerifySignature(key.get(), nullptr, const_cast<PUCHAR>(digest), 32,
                                            const_cast<PUCHAR>(signature), 64, 0));
}

}  // namespace sha256_detail
