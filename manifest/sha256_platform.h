// What each platform supplies to the shared hashing and signature code.
#pragma once

#include <cstdint>

namespace sha256_detail {
// ECDSA P-256 check of a 32-byte digest against a raw 64-byte r-then-s signature and a 64-byte
// X-then-Y public point. Every provider failure is a false result.
bool VerifyP256Digest(const uint8_t* digest, const uint8_t* signature, const uint8_t* publicKey);
}  // namespace sha256_detail
