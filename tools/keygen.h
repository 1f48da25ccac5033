// The keygen verb: a new manifest key pair on disk.
#pragma once

#include <string>

struct KeygenRequest {
    std::string privatePath;  // the PKCS#8 PEM, made new with mode 0600
    std::string publicPath;   // empty: the public hex is only printed
};

// Makes a fresh P-256 pair and writes it (WriteNewKeyFiles); `publicHex` is what the build takes.
bool Keygen(const KeygenRequest& request, std::string& publicHex, std::string& error);
