// The host build's stand-in for CNG: OpenSSL's libcrypto behind the same operations.
#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/ec.h>
#include <openssl/evp.h>
#include <openssl/param_build.h>

#include <cstring>
#include <memory>

#include "manifest/sha256.h"
#include "manifest/sha256_platform.h"

namespace {

template <typename T, void (*Free)(T*)>
struct Deleter {
    void operator()(T* p) const { Free(p); }
};
using PkeyPtr = std::unique_ptr<EVP_PKEY, Deleter<EVP_PKEY, &EVP_PKEY_free>>;
using PkeyCtxPtr = std::unique_ptr<EVP_PKEY_CTX, Deleter<EVP_PKEY_CTX, &EVP_PKEY_CTX_free>>;
using BnPtr = std::unique_ptr<BIGNUM, Deleter<BIGNUM, &BN_free>>;
using SigPtr = std::unique_ptr<ECDSA_SIG, Deleter<ECDSA_SIG, &ECDSA_SIG_free>>;
using ParamBldPtr = std::unique_ptr<OSSL_PARAM_BLD, Deleter<OSSL_PARAM_BLD, &OSSL_PARAM_BLD_free>>;
using ParamPtr = std::unique_ptr<OSSL_PARAM, Deleter<OSSL_PARAM, &OSSL_PARAM_free>>;

PkeyPtr ImportP256PublicKey(const uint8_t* publicKey) {
    unsigned char point[65];
    point[0] = 0x04;  // uncompressed X, Y
    memcpy(point + 1, publicKey, 64);
    ParamBldPtr builder(OSSL_PARAM_BLD_new());
    if (!builder) return nullptr;
    if (!OSSL_PARAM_BLD_push_utf8_string(builder.get(), OSSL_PKEY_PARAM_GROUP_NAME, "prime256v1",
                                         0) ||
        !OSSL_PARAM_BLD_push_octet_string(builder.get(), OSSL_PKEY_PARAM_PUB_KEY, point,
                                          sizeof(point)))
        return nullptr;
    ParamPtr params(OSSL_PARAM_BLD_to_param(builder.get()));
    if (!params) return nullptr;
    PkeyCtxPtr ctx(EVP_PKEY_CTX_new_from_name(nullptr, "EC", nullptr));
    if (!ctx || EVP_PKEY_fromdata_init(ctx.get()) != 1) return nullptr;
    EVP_PKEY* raw = nullptr;
    if (EVP_PKEY_fromdata(ctx.get(), &raw, EVP_PKEY_PUBLIC_KEY, params.get()) != 1) return nullptr;
    return PkeyPtr(raw);
}

}  // namespace

namespace sha256_detail {
void CloseProvider(void* provider) {
    EVP_MD_free(static_cast<EVP_MD*>(provider));
}
void DestroyHash(void* hash) {
    EVP_MD_CTX_free(static_cast<EVP_MD_CTX*>(hash));
}
}  // namespace sha256_detail

void Sha256Hasher::Open() {
    Close();
    provider.reset(EVP_MD_fetch(nullptr, "SHA256", nullptr));
    if (!provider) return;
    hash.reset(EVP_MD_CTX_new());
    if (!hash) return;
    if (EVP_DigestInit_ex2(static_cast<EVP_MD_CTX*>(hash.get()),
                           static_cast<EVP_MD*>(provider.get()), nullptr) != 1)
        return;
    ready = true;
}

bool Sha256Hasher::Update(const void* bytes, size_t count) {
    if (!ready) return false;
    return EVP_DigestUpdate(static_cast<EVP_MD_CTX*>(hash.get()), bytes, count) == 1;
}

bool Sha256Hasher::FinishRaw(uint8_t* digest) {
    if (!ready) return false;
    unsigned int length = 0;
    return EVP_DigestFinal_ex(static_cast<EVP_MD_CTX*>(hash.get()), digest, &length) == 1 &&
           length == 32;
}

namespace sha256_detail {

bool VerifyP256Digest(const uint8_t* digest, const uint8_t* signature, const uint8_t* publicKey) {
    PkeyPtr key = ImportP256PublicKey(publicKey);
    if (!key) return false;

    // OpenSSL takes the signature in DER; r and s are carried over as the raw big-endian numbers.
    SigPtr sig(ECDSA_SIG_new());
    BnPtr r(BN_bin2bn(signature, 32, nullptr));
    BnPtr s(BN_bin2bn(signature + 32, 32, nullptr));
    if (!sig || !r || !s || ECDSA_SIG_set0(sig.get(), r.get(), s.get()) != 1) return false;
    r.release();
    s.release();
    unsigned char* der = nullptr;
    const int derLength = i2d_ECDSA_SIG(sig.get(), &der);
    if (derLength <= 0) return false;
    std::unique_ptr<unsigned char, void (*)(unsigned char*)> derOwner(
        der, [](unsigned char* p) { OPENSSL_free(p); });

    PkeyCtxPtr ctx(EVP_PKEY_CTX_new(key.get(), nullptr));
    if (!ctx || EVP_PKEY_verify_init(ctx.get()) != 1) return false;
    return EVP_PKEY_verify(ctx.get(), der, static_cast<size_t>(derLength), digest, 32) == 1;
}

}  // namespace sha256_detail
