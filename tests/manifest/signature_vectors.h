// Messages signed with the development key by the publisher's signing code (see the generated
// file for how it is made); both builds check their signature code against the same vectors.
#pragma once

#include <string_view>

struct SignedVector {
    std::string_view name;
    std::string_view message;
    std::string_view signatureHex;
};

#include "tests/manifest/signature_vectors.inc"

inline const SignedVector& FindVector(std::string_view name) {
    for (const SignedVector& v : kSignedVectors)
        if (v.name == name) return v;
    throw "unknown signed vector";
}
