// Makes tests/manifest/signature_vectors.inc with the publisher's signing code, so the Windows
// tests (which cannot link OpenSSL) check CNG against exactly what the tool signs.
#pragma once

#include <string>

// The whole file text for the given PEM private key; empty on a signing failure.
std::string MakeSignatureVectorsFile(const std::string& privatePem, std::string& error);
