// The check verb: a tree on disk judged as installers with a given key would judge it.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "manifest/sha256.h"
#include "tests/tools/tool_support.h"
#include "tools/check.h"
#include "tools/keys.h"
#include "tools/publish.h"

namespace fs = std::filesystem;

TEST(RecoverSignerKeys, FindsTheSignerAmongAtMostTwoKeysThatVerify) {
    ManifestKeyPair pair;
    std::string error;
    ASSERT_TRUE(GenerateManifestKey(pair, error)) << error;
    for (const std::string& message : {std::string(), LauncherManifest("1")}) {
        std::string signature;
        ASSERT_TRUE(SignManifestText(pair.privatePem, message, signature, error)) << error;
        const std::vector<std::string> keys = RecoverSignerKeys(message, signature);
        EXPECT_TRUE(keys.size() == 1 || keys.size() == 2) << keys.size();
        EXPECT_NE(std::find(keys.begin(), keys.end(), pair.publicHex), keys.end()) << message;
        for (const std::string& key : keys)
            EXPECT_TRUE(VerifyManifestSignature(message, signature, key)) << message;
    }
    // r = n, s = 0 and a short signature name nobody.
    const std::string order = "ffffffff00000000ffffffffffffffffbce6faada7179e84f3b9cac2fc632551";
    for (const std::string& signature :
         {order + std::string(63, '0') + "1", std::string(63, '0') + "1" + std::string(64, '0'),
          std::string(126, '1')})
        EXPECT_TRUE(RecoverSignerKeys("abc", signature).empty()) << signature;
}

namespace {

// A manifest for `name` under files/ with the given digest and size, signed with the development
// key into the tree: what a publish of those bytes would have written, whatever they are.
void SignInto(const fs::path& tree, const std::string& name, const std::string& sha256,
              uint64_t size) {
    const PublishRequest request{"", "", "1.0", 1, "", kNow};
    std::string envelope, error;
    ASSERT_TRUE(SignToEnvelope(DevPem(), MakeLauncherManifest(request, name, sha256, size),
                               envelope, error))
        << error;
    WriteFileBytes(tree / "api/updates/manifest", envelope);
}

}  // namespace

TEST(CheckUpdateTree, JudgesTheTreeAsInstallersWithTheGivenKeyWould) {
    ManifestKeyPair other;
    std::string error;
    ASSERT_TRUE(GenerateManifestKey(other, error)) << error;
    const std::string payload = "api/updates/files/" + ServedName("1.0", ClientBytes(70000));
    const struct {
        const char* what;
        std::function<void(const fs::path& tree)> spoil;
        std::string key;  // empty: the development key's hex
        int64_t now;
        std::vector<std::string> refusal;  // empty: accepted; else parts of the message
    } cases[] = {
        {"the published tree", nullptr, "", kNow, {}},
        {"a key that did not sign it",
         nullptr,
         other.publicHex,
         kNow,
         {"invalid_signature", "with the key " + other.publicHex.substr(0, 16), "signed by the key",
          DevPublicHex().substr(0, 16)}},
        {"a payload with other bytes",
         [&](const fs::path& tree) { WriteFileBytes(tree / payload, ClientBytes(70000, 1)); },
         "",
         kNow,
         {"sha256_mismatch"}},
        {"a payload cut short",
         [&](const fs::path& tree) { fs::resize_file(tree / payload, 69999); },
         "",
         kNow,
         {"size_mismatch"}},
        {"a payload too small to be the client",
         [](const fs::path& tree) {
             const std::string tiny = "MZ but far too small";
             WriteFileBytes(tree / "api/updates/files/tiny.exe", tiny);
             SignInto(tree, "tiny.exe", Sha256Of(tiny), tiny.size());
         },
         "",
         kNow,
         {"not_an_executable"}},
        {"a manifest that gives the payload's digest with another size",
         [&](const fs::path& tree) {
             SignInto(tree, payload.substr(18), Sha256Of(ClientBytes(70000)), 69999);
         },
         "",
         kNow,
         {"size_mismatch"}},
        {"a stale manifest", nullptr, "", kNow + 366 * 86400, {"manifest_timestamp_stale"}},
        {"a token's URI for the public key, with a PIN in it",
         nullptr,
         " pkcs11:token=T;object=m;pin-value=7f3Qx9",
         kNow,
         {"not a token's pkcs11: URI"}},
        {"a manifest over the installer's byte limit",
         [](const fs::path& tree) {
             WriteFileBytes(
                 tree / "api/updates/manifest",
                 ReadFileBytes(tree / "api/updates/manifest") + std::string(524288, ' '));
         },
         "",
         kNow,
         {"installers read at most 524288"}},
        {"a manifest of exactly the installer's byte limit",
         [](const fs::path& tree) {
             const std::string envelope = ReadFileBytes(tree / "api/updates/manifest");
             WriteFileBytes(tree / "api/updates/manifest",
                            envelope + std::string(524288 - envelope.size(), ' '));
         },
         "",
         kNow,
         {}},
    };
    for (const auto& c : cases) {
        ScratchDir dir;
        ASSERT_TRUE(PublishBytes(dir, "1.0", 1, ClientBytes(70000), error)) << error;
        if (c.spoil) c.spoil(dir / "tree");
        std::string summary;
        error.clear();
        const bool accepted = CheckUpdateTree(
            {(dir / "tree").string(), c.key.empty() ? DevPublicHex() : c.key, c.now}, summary,
            error);
        EXPECT_EQ(accepted, c.refusal.empty()) << c.what << ": " << error;
        for (const std::string& part : c.refusal)
            EXPECT_NE(error.find(part), std::string::npos) << c.what << ": " << error;
        EXPECT_EQ(error.find("7f3Qx9"), std::string::npos) << c.what << ": the PIN was shown";
    }
}
