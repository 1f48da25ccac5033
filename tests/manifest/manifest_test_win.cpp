// What only the Windows build can show: CNG's own object size and the backslash join.
#include <gtest/gtest.h>

#include <windows.h>
#include <bcrypt.h>

#include <nlohmann/json.hpp>

#include "common/handles_win.h"
#include "manifest/sha256.h"
#include "manifest/update_manifest.h"
#include "tests/support/scratch.h"

TEST(Sha256HasherWin, TheHashObjectIsSizedAsTheProviderAsks) {
    UniqueAlgorithm provider;
    ASSERT_EQ(BCryptOpenAlgorithmProvider(provider.put(), BCRYPT_SHA256_ALGORITHM, nullptr, 0), 0);
    DWORD length = 0;
    ULONG written = 0;
    ASSERT_EQ(BCryptGetProperty(provider.get(), BCRYPT_OBJECT_LENGTH,
                                reinterpret_cast<PUCHAR>(&length), sizeof(length), &written, 0),
              0);
    Sha256Hasher hasher;
    hasher.Open();
    ASSERT_TRUE(hasher.ready);
    EXPECT_EQ(hasher.object.size(), length);
    EXPECT_TRUE(hasher.provider);
    EXPECT_TRUE(hasher.hash);
}

TEST(ManifestGameFilesWin, ABaseFolderWithoutASeparatorGetsABackslash) {
    ScratchDir dir;
    WriteFileBytes(dir / "data" / "a.bin", "abc");
    const nlohmann::json manifest = {
        {"schema_version", 1},
        {"game_files",
         nlohmann::json::array(
             {{{"file_id", "a"},
               {"rel_path", "data/a.bin"},
               {"url", "/api/updates/files/a.bin"},
               {"sha256", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
               {"size_bytes", 3}}})}};
    UpdateManifest record;
    ASSERT_TRUE(ApplyManifestRules(manifest, record, 0, 0, dir.Utf8(), 0, 1800000000))
        << record.errorCode;
    EXPECT_EQ(record.game_files.size(), 1u);
    EXPECT_TRUE(record.filesToDownload.empty());
}

TEST(Sha256FileHexWin, AFileThatAnotherProcessHoldsOpenForWritingIsStillRead) {
    ScratchDir dir;
    WriteFileBytes(dir / "busy.bin", "abc");
    const std::wstring path = (dir / "busy.bin").wstring();
    UniqueFile writer(CreateFileW(path.c_str(), GENERIC_WRITE,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(writer);
    uint64_t size = 0;
    std::string hex;
    EXPECT_TRUE(Sha256FileHex((dir / "busy.bin").u16string(), size, hex));
    EXPECT_EQ(size, 3u);
    EXPECT_EQ(hex, "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
}
