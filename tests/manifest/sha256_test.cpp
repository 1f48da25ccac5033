#include <gtest/gtest.h>

#include <string>

#include "common/scoped_override.h"
#include "manifest/sha256.h"
#include "tests/support/scratch.h"

namespace {

constexpr char kEmptyDigest[] = "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855";
constexpr char kMillionA[] = "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0";

std::string DigestOf(const std::string& bytes) {
    Sha256Hasher hasher;
    hasher.Open();
    EXPECT_TRUE(hasher.ready);
    if (!bytes.empty()) {
        EXPECT_TRUE(hasher.Update(bytes.data(), bytes.size()));
    }
    return hasher.FinishHex();
}

}  // namespace

TEST(Sha256Hasher, KnownAnswersForTheStandardVectors) {
    EXPECT_EQ(DigestOf(""), kEmptyDigest);
    EXPECT_EQ(DigestOf("abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    EXPECT_EQ(DigestOf("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq"),
              "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
    EXPECT_EQ(DigestOf(std::string(1000000, 'a')), kMillionA);
}

TEST(Sha256Hasher, PiecesOfUnevenSizeGiveTheSameDigestAsOneUpdate) {
    const std::string million(1000000, 'a');
    Sha256Hasher hasher;
    hasher.Open();
    ASSERT_TRUE(hasher.ready);
    size_t done = 0;
    for (size_t piece = 1; done < million.size(); piece = piece * 3 + 1) {
        const size_t count = std::min(piece, million.size() - done);
        ASSERT_TRUE(hasher.Update(million.data() + done, count));
        done += count;
    }
    EXPECT_EQ(hasher.FinishHex(), kMillionA);
}

TEST(Sha256Hasher, AHasherThatIsNotReadyGivesEmptyTextNeverADigest) {
    Sha256Hasher never;
    EXPECT_FALSE(never.ready);
    EXPECT_FALSE(never.Update("abc", 3));
    EXPECT_EQ(never.FinishHex(), "");

    Sha256Hasher closed;
    closed.Open();
    ASSERT_TRUE(closed.ready);
    closed.Close();
    EXPECT_FALSE(closed.ready);
    EXPECT_FALSE(closed.hash);
    EXPECT_FALSE(closed.provider);
    EXPECT_TRUE(closed.object.empty());
    EXPECT_EQ(closed.FinishHex(), "");
}

TEST(Sha256Hasher, ReopeningStartsAFreshDigest) {
    Sha256Hasher hasher;
    hasher.Open();
    ASSERT_TRUE(hasher.Update("junk", 4));
    hasher.Open();
    ASSERT_TRUE(hasher.ready);
    ASSERT_TRUE(hasher.Update("abc", 3));
    EXPECT_EQ(hasher.FinishHex(),
              "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
}

TEST(Sha256FileHex, HashesFilesAcrossChunkBoundaries) {
    ScratchDir dir;
    struct Case {
        const char* name;
        std::string bytes;
        const char* digest;
    } cases[] = {
        {"million.bin", std::string(1000000, 'a'), kMillionA},
        {"two-chunks.bin", std::string(131072, 'a'),
         "b44ffb72fcc259676bd80495fef1b44b808ca8f1ffe1b1706a4d7911b0e31f11"},
        {"chunk-and-one.bin",
         {},
         "237356e18b503616912abb8ffaed3a72591e397d4ac294c4637917d48a3f529d"},
        {"empty.bin", "", kEmptyDigest},
    };
    for (int i = 0; i < 65537; ++i) cases[2].bytes.push_back(static_cast<char>(i % 251));
    for (const Case& c : cases) {
        WriteFileBytes(dir / c.name, c.bytes);
        uint64_t size = 12345;
        std::string hex = "stale";
        EXPECT_TRUE(Sha256FileHex((dir / c.name).u16string(), size, hex)) << c.name;
        EXPECT_EQ(size, c.bytes.size()) << c.name;
        EXPECT_EQ(hex, c.digest) << c.name;
    }
}

TEST(Sha256FileHex, MissingPathsAndFoldersAreFalseWithSizeZero) {
    ScratchDir dir;
    for (const auto& path : {dir / "missing.bin", dir.path()}) {
        uint64_t size = 7;
        std::string hex = "stale";
        EXPECT_FALSE(Sha256FileHex(path.u16string(), size, hex));
        EXPECT_EQ(size, 0u);
        EXPECT_EQ(hex, "");
    }
}

TEST(Sha256FileHex, AFailedSizeQueryLeavesAllOnes) {
    ScratchDir dir;
    WriteFileBytes(dir / "a.bin", "abc");
    ScopedOverride sizeFails(
        g_fileSizeFollow, +[](const std::u16string&, uint64_t&) { return false; });
    uint64_t size = 0;
    std::string hex;
    EXPECT_FALSE(Sha256FileHex((dir / "a.bin").u16string(), size, hex));
    EXPECT_EQ(size, UINT64_MAX);
    EXPECT_EQ(hex, "");
}

TEST(Sha256FileHex, AFileThatCannotBeOpenedIsFalse) {
    ScratchDir dir;
    // The status says a regular file of 3 bytes, but nothing can be opened at the path.
    ScopedOverride kind(
        g_fileKindFollow, +[](const std::u16string&) { return FileKind::regular; });
    ScopedOverride sizeOk(
        g_fileSizeFollow, +[](const std::u16string&, uint64_t& size) {
            size = 3;
            return true;
        });
    uint64_t size = 0;
    std::string hex;
    EXPECT_FALSE(Sha256FileHex((dir / "gone.bin").u16string(), size, hex));
    EXPECT_EQ(hex, "");
}

TEST(DecodeHex, DecodesPairsInEitherCase) {
    EXPECT_EQ(DecodeHex(""), std::vector<uint8_t>{});
    EXPECT_EQ(DecodeHex("00ff7f80"), (std::vector<uint8_t>{0x00, 0xFF, 0x7F, 0x80}));
    EXPECT_EQ(DecodeHex("AbCdEF"), (std::vector<uint8_t>{0xAB, 0xCD, 0xEF}));
    EXPECT_EQ(DecodeHex("0123456789"), (std::vector<uint8_t>{0x01, 0x23, 0x45, 0x67, 0x89}));
}

TEST(DecodeHex, RefusesOddLengthsAndForeignCharacters) {
    for (const char* text : {"0", "abc", "0g", "g0", "zz", "0 ", " 0", "0x", "-1", "\xc3\xa9"})
        EXPECT_FALSE(DecodeHex(text).has_value()) << text;
    EXPECT_FALSE(DecodeHex(std::string_view("0\0", 2)).has_value());
}
