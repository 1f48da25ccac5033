#include "tools/keys.h"

#include <openssl/core_names.h>
#include <openssl/err.h>
#include <openssl/hmac.h>
#include <openssl/obj_mac.h>
#include <openssl/pem.h>

#include <cstdint>
#include <cstring>

#include <nlohmann/json.hpp>

#include "common/scope_exit.h"
#include "manifest/sha256.h"
#include "tools/key_files.h"
#include "tools/openssl_handles.h"

namespace {

// An encrypted key must fail rather than prompt on the terminal.
int NoPassword(char*, int, int, void*) {
    return 0;
}

UniquePkey LoadP256PrivateKey(std::string_view pem, std::string& error) {
    UniqueBio bio(BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size())));
    UniquePkey key(bio ? PEM_read_bio_PrivateKey(bio.get(), nullptr, &NoPassword, nullptr)
                       : nullptr);
    char group[32] = {};
    size_t groupLength = 0;
    if (!key || !EVP_PKEY_is_a(key.get(), "EC") ||
        EVP_PKEY_get_utf8_string_param(key.get(), OSSL_PKEY_PARAM_GROUP_NAME, group, sizeof(group),
                                       &groupLength) != 1 ||
        std::string_view(group) != "prime256v1") {
        error = "not an unencrypted PEM P-256 private key";
        return UniquePkey();
    }
    return key;
}

bool PublicHexOf(EVP_PKEY* key, std::string& publicHex, std::string& error) {
    unsigned char point[65];
    size_t length = 0;
    if (EVP_PKEY_get_octet_string_param(key, OSSL_PKEY_PARAM_PUB_KEY, point, sizeof(point),
                                        &length) != 1 ||
        length != 65 || point[0] != 0x04) {
        error = "the key has no uncompressed public point";
        return false;
    }
    publicHex = HexOf(point + 1, 64);
    return true;
}

}  // namespace

bool GenerateManifestKey(ManifestKeyPair& pair, std::string& error) {
    UniquePkey key(EVP_PKEY_Q_keygen(nullptr, nullptr, "EC", "P-256"));
    if (!key) {
        error = "key generation failed";
        return false;
    }
    UniqueBio bio(BIO_new(BIO_s_mem()));
    if (!bio || PEM_write_bio_PrivateKey(bio.get(), key.get(), nullptr, nullptr, 0, nullptr,
                                         nullptr) != 1) {
        error = "cannot encode the private key";
        return false;
    }
    char* data = nullptr;
    const long length = BIO_get_mem_data(bio.get(), &data);
    pair.privatePem.assign(data, static_cast<size_t>(length));
    return PublicHexOf(key.get(), pair.publicHex, error);
}

bool PublicKeyHexFromPem(std::string_view privatePem, std::string& publicHex, std::string& error) {
    UniquePkey key = LoadP256PrivateKey(privatePem, error);
    return key && PublicHexOf(key.get(), publicHex, error);
}

bool SignManifestText(std::string_view privatePem, std::string_view message,
                      std::string& signatureHex, std::string& error) {
    UniquePkey key = LoadP256PrivateKey(privatePem, error);
    if (!key) return false;
    std::string publicHex;
    if (!PublicHexOf(key.get(), publicHex, error)) return false;

    // The private scalar, as a number and as bytes, is wiped on every way out of this function:
    // the number by its owner (BN_clear_free), the bytes here.
    UniqueBignum d;
    if (EVP_PKEY_get_bn_param(key.get(), OSSL_PKEY_PARAM_PRIV_KEY, d.put()) != 1) {
        error = "cannot read the private scalar";
        return false;
    }
    unsigned char dBytes[32];
    ScopeExit wipeScalar([&dBytes] { OPENSSL_cleanse(dBytes, sizeof(dBytes)); });
    if (BN_bn2binpad(d.get(), dBytes, 32) != 32) {
        error = "the private scalar is out of range";
        return false;
    }

    Sha256Hasher hasher;
    hasher.Open();
    unsigned char digest[32];
    if (!hasher.ready || (!message.empty() && !hasher.Update(message.data(), message.size())) ||
        !hasher.FinishRaw(digest)) {
        error = "SHA-256 failed";
        return false;
    }

    UniqueEcGroup group(EC_GROUP_new_by_curve_name(NID_X9_62_prime256v1));
    UniqueBnCtx ctx(BN_CTX_new());
    if (!group || !ctx) {
        error = "out of memory";
        return false;
    }
    const BIGNUM* n = EC_GROUP_get0_order(group.get());
    UniqueBignum z(BN_bin2bn(digest, 32, nullptr));
    UniqueBignum k(BN_new()), kinv(BN_new()), x(BN_new()), r(BN_new()), s(BN_new()), t(BN_new());
    UniqueEcPoint point(EC_POINT_new(group.get()));
    if (!z || !k || !kinv || !x || !r || !s || !t || !point) {
        error = "out of memory";
        return false;
    }
    BN_set_flags(k.get(), BN_FLG_CONSTTIME);
    unsigned char nonce[32];
    ScopeExit wipeNonce([&nonce] { OPENSSL_cleanse(nonce, sizeof(nonce)); });
    // The nonce is HMAC-SHA256(d, digest || counter), drawn again until it lies in [1, n-1] and
    // gives non-zero r and s.
    for (uint32_t counter = 0; counter < 64; ++counter) {
        unsigned char input[36];
        memcpy(input, digest, 32);
        for (int i = 0; i < 4; ++i)
            input[32 + i] = static_cast<unsigned char>(counter >> (24 - 8 * i));
        unsigned int nonceLength = 0;
        if (!HMAC(EVP_sha256(), dBytes, 32, input, sizeof(input), nonce, &nonceLength) ||
            nonceLength != 32)
            break;
        if (!BN_bin2bn(nonce, 32, k.get())) break;
        if (BN_is_zero(k.get()) || BN_cmp(k.get(), n) >= 0) continue;
        if (EC_POINT_mul(group.get(), point.get(), k.get(), nullptr, nullptr, ctx.get()) != 1 ||
            EC_POINT_get_affine_coordinates(group.get(), point.get(), x.get(), nullptr,
                                            ctx.get()) != 1 ||
            BN_nnmod(r.get(), x.get(), n, ctx.get()) != 1)
            break;
        if (BN_is_zero(r.get())) continue;
        if (!BN_mod_inverse(kinv.get(), k.get(), n, ctx.get()) ||
            BN_mod_mul(t.get(), r.get(), d.get(), n, ctx.get()) != 1 ||
            BN_mod_add(t.get(), t.get(), z.get(), n, ctx.get()) != 1 ||
            BN_mod_mul(s.get(), kinv.get(), t.get(), n, ctx.get()) != 1)
            break;
        if (BN_is_zero(s.get())) continue;
        unsigned char signature[64];
        if (BN_bn2binpad(r.get(), signature, 32) != 32 ||
            BN_bn2binpad(s.get(), signature + 32, 32) != 32)
            break;
        signatureHex = HexOf(signature, sizeof(signature));
        // The installer's own check must accept what is published.
        if (!VerifyManifestSignature(message, signatureHex, publicHex)) {
            error = "the new signature does not verify";
            return false;
        }
        return true;
    }
    error = "signing failed";
    return false;
}

bool MakeEnvelope(std::string_view manifestText, std::string_view signatureHex,
                  std::string& envelope, std::string& error) {
    nlohmann::ordered_json value;
    value["ok"] = true;
    value["manifest_json"] = std::string(manifestText);
    value["signature_hex"] = std::string(signatureHex);
    try {
        envelope = value.dump(2) + "\n";
    } catch (const nlohmann::json::exception&) {
        error = "the manifest text is not valid UTF-8";
        return false;
    }
    return true;
}

bool SignToEnvelope(std::string_view privatePem, std::string_view manifestText,
                    std::string& envelope, std::string& error) {
    std::string signature;
    return SignManifestText(privatePem, manifestText, signature, error) &&
           MakeEnvelope(manifestText, signature, envelope, error);
}

std::vector<std::string> RecoverSignerKeys(std::string_view message,
                                           std::string_view signatureHex) {
    std::vector<std::string> keys;
    const auto signature = DecodeHex(signatureHex);
    uint8_t digest[32];
    Sha256Hasher hasher;
    hasher.Open();
    if (!signature || signature->size() != 64 || !hasher.ready ||
        (!message.empty() && !hasher.Update(message.data(), message.size())) ||
        !hasher.FinishRaw(digest))
        return keys;

    UniqueEcGroup group(EC_GROUP_new_by_curve_name(NID_X9_62_prime256v1));
    UniqueBnCtx ctx(BN_CTX_new());
    UniqueBignum p(BN_new()), r(BN_bin2bn(signature->data(), 32, nullptr)),
        s(BN_bin2bn(signature->data() + 32, 32, nullptr)), z(BN_bin2bn(digest, 32, nullptr)),
        rInverse(BN_new()), u1(BN_new()), u2(BN_new()), x(BN_new());
    UniqueEcPoint candidateR, q;
    if (!group || !ctx || !p || !r || !s || !z || !rInverse || !u1 || !u2 || !x) return keys;
    candidateR.reset(EC_POINT_new(group.get()));
    q.reset(EC_POINT_new(group.get()));
    const BIGNUM* n = EC_GROUP_get0_order(group.get());
    if (!candidateR || !q || BN_is_zero(r.get()) || BN_is_zero(s.get()) ||
        BN_cmp(r.get(), n) >= 0 || BN_cmp(s.get(), n) >= 0 ||
        EC_GROUP_get_curve(group.get(), p.get(), nullptr, nullptr, ctx.get()) != 1)
        return keys;
    // Q = r^-1 (s R - z G) = u1 G + u2 R with u1 = -z / r and u2 = s / r (mod n).
    if (!BN_mod_inverse(rInverse.get(), r.get(), n, ctx.get()) ||
        BN_mod_mul(u1.get(), z.get(), rInverse.get(), n, ctx.get()) != 1 ||
        BN_mod_sub(u1.get(), n, u1.get(), n, ctx.get()) != 1 ||
        BN_mod_mul(u2.get(), s.get(), rInverse.get(), n, ctx.get()) != 1)
        return keys;
    for (int j = 0; j < 2; ++j) {
        if (BN_copy(x.get(), r.get()) == nullptr || (j == 1 && BN_add(x.get(), x.get(), n) != 1) ||
            BN_cmp(x.get(), p.get()) >= 0)
            break;
        for (int yBit = 0; yBit < 2; ++yBit) {
            unsigned char point[65];
            // An x that is not on the curve has no R, and no key.
            if (EC_POINT_set_compressed_coordinates(group.get(), candidateR.get(), x.get(), yBit,
                                                    ctx.get()) != 1 ||
                EC_POINT_mul(group.get(), q.get(), u1.get(), candidateR.get(), u2.get(),
                             ctx.get()) != 1 ||
                EC_POINT_is_at_infinity(group.get(), q.get()) ||
                EC_POINT_point2oct(group.get(), q.get(), POINT_CONVERSION_UNCOMPRESSED, point,
                                   sizeof(point), ctx.get()) != sizeof(point))
                continue;
            const std::string hex = HexOf(point + 1, 64);
            // Named only when the installer's own check agrees.
            if (VerifyManifestSignature(message, signatureHex, hex)) keys.push_back(hex);
        }
    }
    ERR_clear_error();
    return keys;
}

bool OpenManifestSigningKey(const std::string& keyArgument, const std::string& modulePath,
                            const std::string& pinFile, ManifestSigningKey& key,
                            std::string& publicHex, std::string& error) {
    if (IsTokenUri(keyArgument)) {
        key.token = {keyArgument, modulePath, pinFile};
        return TokenPublicKeyHex(key.token, publicHex, error);
    }
    if (!modulePath.empty() || !pinFile.empty()) {
        error = "--pkcs11-module and --pin-file go with a pkcs11: key, not with the file " +
                keyArgument;
        return false;
    }
    if (!ReadWholeFile(keyArgument, key.pem, error)) return false;
    if (!PublicKeyHexFromPem(key.pem, publicHex, error)) {
        error = keyArgument + ": " + error;
        return false;
    }
    return true;
}

bool SignToEnvelopeWith(const ManifestSigningKey& key, std::string_view manifestText,
                        std::string& envelope, std::string& error) {
    if (key.token.uri.empty()) return SignToEnvelope(key.pem, manifestText, envelope, error);
    std::string signature;
    return TokenSignManifestText(key.token, manifestText, signature, error) &&
           MakeEnvelope(manifestText, signature, envelope, error);
}
