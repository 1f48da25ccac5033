// The keygen verb: a new manifest key pair on disk.
#pragma once

#include <string>

struct KeygenRequest {
    std::string privatePath;  // the PKCS#8 PEM, made new with mode 0600; or a new key's pkcs11: URI
    std::string publicPath;   // empty: the public hex is only printed
    std::string pkcs11Module = {};  // with a pkcs11: URI: the token's module
    std::string pinFile = {};       // with a pkcs11: URI: the file holding the user PIN
};

// Makes a fresh P-256 pair and writes it (WriteNewKeyFiles), or makes it inside the token and
// writes only its public half; `publicHex` is what the build takes.
bool Keygen(const KeygenRequest& request, std::string& publicHex, std::string& error);
