#include <gtest/gtest.h>

#include <cctype>
#include <string>

#include "common/build_info.h"
#include "manifest/sha256.h"
#include "tests/manifest/signature_vectors.h"

namespace {

std::string FlipBit(std::string_view hex, size_t bit) {
    std::string out(hex);
    auto bytes = *DecodeHex(out);
    bytes[bit / 8] ^= static_cast<uint8_t>(0x80 >> (bit % 8));
    return DigestToHex(bytes.data()) + DigestToHex(bytes.data() + 32);
}

std::string Upper(std::string_view text) {
    std::string out(text);
    for (char& c : out) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return out;
}

}  // namespace

TEST(VerifyManifestSignature, EveryVectorFromThePublisherToolVerifies) {
    // Includes the empty message, a high-s signature and an r and an s with a zero first byte.
    for (const SignedVector& v : kSignedVectors)
        EXPECT_TRUE(VerifyManifestSignature(v.message, v.signatureHex, kVectorPublicKey)) << v.name;
    EXPECT_EQ(FindVector("short_r").signatureHex.substr(0, 2), "00");
    EXPECT_EQ(FindVector("short_s").signatureHex.substr(64, 2), "00");
    EXPECT_GE(FindVector("high_s").signatureHex.substr(64, 1), "8");
}

TEST(VerifyManifestSignature, TheBuiltInKeyIsTheOneTheVectorsWereSignedWith) {
    if (BuiltInManifestPublicKey() != kVectorPublicKey)
        GTEST_SKIP() << "built with a non-development manifest key";
    const SignedVector& v = FindVector("manifest_valid");
    EXPECT_TRUE(VerifyManifestSignature(v.message, v.signatureHex, BuiltInManifestPublicKey()));
}

TEST(VerifyManifestSignature, UpperCaseHexIsAcceptedInSignatureAndKey) {
    const SignedVector& v = FindVector("abc");
    EXPECT_TRUE(VerifyManifestSignature(v.message, Upper(v.signatureHex), kVectorPublicKey));
    EXPECT_TRUE(VerifyManifestSignature(v.message, v.signatureHex, Upper(kVectorPublicKey)));
}

TEST(VerifyManifestSignature, AnySingleFlippedBitOfMessageRAndSIsRefused) {
    const SignedVector& v = FindVector("abc");
    for (size_t bit = 0; bit < v.message.size() * 8; ++bit) {
        std::string message(v.message);
        message[bit / 8] = static_cast<char>(message[bit / 8] ^ (0x80 >> (bit % 8)));
        EXPECT_FALSE(VerifyManifestSignature(message, v.signatureHex, kVectorPublicKey)) << bit;
    }
    for (size_t bit = 0; bit < 512; ++bit)
        EXPECT_FALSE(
            VerifyManifestSignature(v.message, FlipBit(v.signatureHex, bit), kVectorPublicKey))
            << (bit < 256 ? "r bit " : "s bit ") << bit % 256;
}

TEST(VerifyManifestSignature, AFlippedKeyBitIsRefused) {
    const SignedVector& v = FindVector("abc");
    for (size_t bit = 0; bit < 512; bit += 5)
        EXPECT_FALSE(
            VerifyManifestSignature(v.message, v.signatureHex, FlipBit(kVectorPublicKey, bit)))
            << bit;
}

TEST(VerifyManifestSignature, TheMessageIsVerifiedByteForByte) {
    const SignedVector& v = FindVector("manifest_valid");
    const std::string message(v.message);
    EXPECT_FALSE(VerifyManifestSignature(message + "\n", v.signatureHex, kVectorPublicKey));
    EXPECT_FALSE(
        VerifyManifestSignature(message + std::string(1, '\0'), v.signatureHex, kVectorPublicKey));
    EXPECT_FALSE(VerifyManifestSignature(message.substr(0, message.size() - 1), v.signatureHex,
                                         kVectorPublicKey));
    EXPECT_FALSE(VerifyManifestSignature("", v.signatureHex, kVectorPublicKey));
}

TEST(VerifyManifestSignature, WrongLengthsAreRefusedBeforeDecoding) {
    const SignedVector& v = FindVector("abc");
    const std::string sig(v.signatureHex);
    const std::string key(kVectorPublicKey);
    EXPECT_FALSE(VerifyManifestSignature(v.message, sig.substr(0, 127), key));
    EXPECT_FALSE(VerifyManifestSignature(v.message, sig + "0", key));
    EXPECT_FALSE(VerifyManifestSignature(v.message, sig + "00", key));
    EXPECT_FALSE(VerifyManifestSignature(v.message, sig, key.substr(0, 127)));
    EXPECT_FALSE(VerifyManifestSignature(v.message, sig, key + "0"));
    EXPECT_FALSE(VerifyManifestSignature(v.message, sig, ""));
    EXPECT_FALSE(VerifyManifestSignature(v.message, "", key));
}

TEST(VerifyManifestSignature, ADerSignatureIsRefusedByItsLength) {
    // The same r and s as DER: SEQUENCE of two INTEGERs, each with a leading zero when the top
    // bit is set.
    const SignedVector& v = FindVector("abc");
    auto integer = [](std::string_view part) {
        const bool pad = part[0] >= '8';
        const std::string body = (pad ? "00" : "") + std::string(part);
        static constexpr char kDigits[] = "0123456789abcdef";
        const size_t len = body.size() / 2;
        return std::string("02") + kDigits[len >> 4] + kDigits[len & 15] + body;
    };
    const std::string ints =
        integer(v.signatureHex.substr(0, 64)) + integer(v.signatureHex.substr(64));
    static constexpr char kDigits[] = "0123456789abcdef";
    const size_t len = ints.size() / 2;
    const std::string der = std::string("30") + kDigits[len >> 4] + kDigits[len & 15] + ints;
    ASSERT_GE(der.size(), 140u);
    ASSERT_LE(der.size(), 144u);
    EXPECT_FALSE(VerifyManifestSignature(v.message, der, kVectorPublicKey));
}

TEST(VerifyManifestSignature, NonHexCharactersAndZeroPartsAreRefused) {
    const SignedVector& v = FindVector("abc");
    std::string sig(v.signatureHex);
    sig[10] = 'g';
    EXPECT_FALSE(VerifyManifestSignature(v.message, sig, kVectorPublicKey));
    std::string key(kVectorPublicKey);
    key[100] = 'x';
    EXPECT_FALSE(VerifyManifestSignature(v.message, v.signatureHex, key));

    const std::string zeros(64, '0');
    EXPECT_FALSE(VerifyManifestSignature(v.message, zeros + std::string(v.signatureHex.substr(64)),
                                         kVectorPublicKey));
    EXPECT_FALSE(VerifyManifestSignature(
        v.message, std::string(v.signatureHex.substr(0, 64)) + zeros, kVectorPublicKey));
    EXPECT_FALSE(VerifyManifestSignature(v.message, zeros + zeros, kVectorPublicKey));
    EXPECT_FALSE(VerifyManifestSignature(v.message, v.signatureHex, std::string(128, '0')));
}
