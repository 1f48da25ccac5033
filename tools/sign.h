// The sign verb: one manifest file signed into the server's envelope.
#pragma once

#include <cstdint>
#include <string>

struct SignRequest {
    std::string keyPath;            // PEM private key, or a pkcs11: URI
    std::string inPath;             // the manifest text, signed byte for byte
    std::string outPath;            // empty: the envelope is handed back for standard output
    int64_t now = 0;                // the time installers are assumed to check it at
    std::string pkcs11Module = {};  // with a pkcs11: key: the token's module
    std::string pinFile = {};       // with a pkcs11: key: the file holding the user PIN
};

// Signs what installers would accept at `now` and nothing else; writes the envelope to outPath
// or leaves it in `envelope`.
bool SignManifestFile(const SignRequest& request, std::string& envelope, std::string& error);
