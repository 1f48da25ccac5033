// Owners for the OpenSSL objects the publisher's tool holds, one line each. Host only.
#pragma once

#include <openssl/bio.h>
#include <openssl/bn.h>
#include <openssl/ec.h>
#include <openssl/evp.h>

#include "common/unique_handle.h"

using UniquePkey = UniqueHandle<EVP_PKEY*, &EVP_PKEY_free>;
using UniqueBio = UniqueHandle<BIO*, &BIO_free_all>;
// Cleared before it is freed: these numbers may hold a private scalar or a nonce.
using UniqueBignum = UniqueHandle<BIGNUM*, &BN_clear_free>;
using UniqueBnCtx = UniqueHandle<BN_CTX*, &BN_CTX_free>;
using UniqueEcGroup = UniqueHandle<EC_GROUP*, &EC_GROUP_free>;
using UniqueEcPoint = UniqueHandle<EC_POINT*, &EC_POINT_free>;
