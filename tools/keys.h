// The manifest key pair and what it signs: P-256 keys, deterministic signatures and the server's
// envelope. Host only (OpenSSL).
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "tools/bytes.h"
#include "tools/token.h"

struct ManifestKeyPair {
    std::string privatePem;  // PKCS#8 PEM, wiped when the pair goes
    std::string publicHex;   // 128 lower-case hex digits, X then Y: the value the build takes
    ~ManifestKeyPair() { WipeSecret(privatePem); }
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

// The public keys (128 hex digits each) that `signatureHex` over `message` verifies under: ECDSA
// lets anyone recover the signer's key from r, s and the digest, up to a choice of R's y (and, with
// a chance of about 2^-128 on P-256, of x = r + n), so usually two candidates. Empty when the
// signature is malformed or no point fits.
std::vector<std::string> RecoverSignerKeys(std::string_view message, std::string_view signatureHex);

// Where the manifest's private key is: the text of a PEM file, or a key in a PKCS#11 token.
struct ManifestSigningKey {
    std::string pem;    // wiped when the key goes
    TokenKeyRef token;  // the key when token.uri is set
    ~ManifestSigningKey() { WipeSecret(pem); }
};

// The key a --key argument names: a PEM file, or a pkcs11: URI with the token's module and PIN
// file (which only a URI takes), and its public half. Errors name the file or the URI.
bool OpenManifestSigningKey(const std::string& keyArgument, const std::string& modulePath,
                            const std::string& pinFile, ManifestSigningKey& key,
                            std::string& publicHex, std::string& error);

// SignToEnvelope with either kind of key.
bool SignToEnvelopeWith(const ManifestSigningKey& key, std::string_view manifestText,
                        std::string& envelope, std::string& error);
