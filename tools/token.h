// Signing keys kept in a PKCS#11 token (a USB token, a network or cloud HSM, SoftHSM2 in the
// tests). The private key never leaves the token: the tool asks it to sign a SHA-256 digest and
// reads the public point beside it. Host only.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

// A key in a token as the command line names it.
struct TokenKeyRef {
    std::string uri;         // RFC 7512, e.g. pkcs11:token=Varnok%20Release;object=manifest-2027
    std::string modulePath;  // the token's PKCS#11 module (a shared library)
    std::string pinFile;     // holds the user PIN; one trailing newline is not part of it
};

// True when a key argument names a token key rather than a file: its scheme in any case, after
// any blanks (which the URI is read without).
bool IsTokenUri(std::string_view keyArgument);

// A pkcs11: text fit for a message, even one that does not parse: "pkcs11:" and its attribute
// names, each value (and anything not plainly name=value) as "...".
std::string ShownTokenUri(std::string_view text);

// The PIN in `path` without one trailing newline ("\n" or "\r\n"). An empty PIN is refused: a
// wrong file should not count as one of the token's few tries.
bool ReadPinFile(const std::string& path, std::string& pin, std::string& error);

// A token's answer to CKM_ECDSA over a P-256 key as the raw 64 bytes r then s. The standard
// answer is already that; a DER SEQUENCE of two INTEGERs, which some modules give, is converted.
bool EcdsaSignatureToRaw(const unsigned char* signature, size_t length, unsigned char raw[64],
                         std::string& error);

// CKA_EC_POINT (a DER OCTET STRING around 04 || X || Y, or those 65 bytes bare, as some modules
// give it) as the build's 128 hex digits.
bool EcPointToPublicHex(const unsigned char* point, size_t length, std::string& publicHex,
                        std::string& error);

// The public half of the token key as 128 hex digits.
bool TokenPublicKeyHex(const TokenKeyRef& key, std::string& publicHex, std::string& error);

// ECDSA P-256 over SHA-256 of `message`, made by the token, as 128 hex digits (r then s), and
// accepted by the installer's own verifier under the key's public half before it is returned.
// Unlike a PEM key's, a token's signatures use a fresh random nonce every time.
bool TokenSignManifestText(const TokenKeyRef& key, std::string_view message,
                           std::string& signatureHex, std::string& error);

// Makes a P-256 key pair inside the token: the private key sensitive, never extractable, a token
// object, labelled with the URI's object= and identified by its id= (16 random bytes when the URI
// has none). A token that already holds an object with that label (or id) is left untouched.
// `keep` is given the new public hex once the pair has signed and verified; when it fails, or
// anything else does, the pair is destroyed again, so a failure leaves the token as it was.
bool GenerateTokenKey(
    const TokenKeyRef& key,
    const std::function<bool(const std::string& publicHex, std::string& error)>& keep,
    std::string& publicHex, std::string& error);
