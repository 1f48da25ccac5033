// The check verb: a tree on disk judged as installers with a given key would judge it.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
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
    for (const std::string& message : {std::string(), std::string("abc"), LauncherManifest("1")}) {
        std::string signature;
        ASSERT_TRUE(SignManifestText(pair.privatePem, message, signature, error)) << error;
        const std::vector<std::string> keys = RecoverSignerKeys(message, signature);
        EXPECT_TRUE(keys.size() == 1 || keys.size() == 2) << keys.size();
        EXPECT_NE(std::find(keys.begin(), keys.end(), pair.publicHex), keys.end()) << message;
        for (const std::string& key : keys)
            EXPECT_TRUE(VerifyManifestSignature(message, signature, key)) << message;
        EXPECT_TRUE(RecoverSignerKeys(message + " ", signature) != keys) << message;
    }
    // r = n, s = 0, and a short signature name nobody.
    const std::string order = "ffffffff00000000ffffffffffffffffbce6faada7179e84f3b9cac2fc632551";
    for (const std::string& signature :
         {order + std::string(63, '0') + "1", std::string(63, '0') + "1" + std::string(64, '0'),
          std::string(126, '1'), std::string(128, 'x')})
        EXPECT_TRUE(RecoverSignerKeys("abc", signature).empty()) << signature;
}

TEST(CheckUpdateTree, JudgesTheTreeAsInstallersWithTheGivenKeyWould) {
    ManifestKeyPair other;
    std::string error;
    ASSERT_TRUE(GenerateManifestKey(other, error)) << error;
    const std::string devHexFile =
        std::string(VARNOK_SOURCE_DIR) + "/tests/fixtures/dev-manifest-key.pub.hex";
    const std::string payload = "api/updates/files/VarnokClient-1.0.exe";
    std::string devInCapitals = DevPublicHex();
    for (char& ch : devInCapitals) ch = static_cast<char>(std::toupper(ch));
    // A tree whose manifest names a file that installers would not take as the client.
    const auto publishTiny = [](const fs::path& tree) {
        WriteFileBytes(tree / "tiny.exe", "MZ but far too small");
        std::string error;
        ASSERT_TRUE(PublishClient(
            {kDevPemPath, (tree / "tiny.exe").string(), "1.1", 2, tree.string(), kNow, kNow},
            error))
            << error;
    };
    const struct {
        const char* what;
        std::function<void(const fs::path& tree)> spoil;
        std::string key;  // empty: the development key's hex
        int64_t now;
        std::vector<std::string> refusal;  // empty: accepted; else parts of the message
    } cases[] = {
        {"the published tree", nullptr, "", kNow, {}},
        {"the key as a file", nullptr, devHexFile, kNow, {}},
        {"the key in capitals", nullptr, devInCapitals, kNow, {}},
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
        {"no payload",
         [&](const fs::path& tree) { fs::remove(tree / payload); },
         "",
         kNow,
         {"is not a readable file"}},
        {"a payload too small to be the client", publishTiny, "", kNow, {"not_an_executable"}},
        {"a stale manifest", nullptr, "", kNow + 366 * 86400, {"manifest_timestamp_stale"}},
        {"a manifest over the installer's byte limit",
         [](const fs::path& tree) {
             WriteFileBytes(
                 tree / "api/updates/manifest",
                 ReadFileBytes(tree / "api/updates/manifest") + std::string(524288, ' '));
         },
         "",
         kNow,
         {"installers read at most 524288"}},
        {"no manifest",
         [](const fs::path& tree) { fs::remove(tree / "api/updates/manifest"); },
         "",
         kNow,
         {"cannot read"}},
        {"no key", nullptr, "abc", kNow, {"128 hex digits"}},
    };
    for (const auto& c : cases) {
        ScratchDir dir;
        WriteFileBytes(dir / "client.exe", ClientBytes(70000));
        const PublishRequest request{kDevPemPath, (dir / "client.exe").string(), "1.0",
                                     1,           (dir / "tree").string(),       kNow,
                                     kNow};
        ASSERT_TRUE(PublishClient(request, error)) << error;
        if (c.spoil) c.spoil(dir / "tree");
        const std::string key = c.key.empty() ? DevPublicHex() : c.key;
        std::string summary;
        const bool accepted =
            CheckUpdateTree({(dir / "tree").string(), key, c.now}, summary, error);
        if (c.refusal.empty()) {
            EXPECT_TRUE(accepted) << c.what << ": " << error;
            EXPECT_NE(summary.find("launcher 1.0 build 1"), std::string::npos) << summary;
        } else {
            EXPECT_FALSE(accepted) << c.what;
            for (const std::string& part : c.refusal)
                EXPECT_NE(error.find(part), std::string::npos) << c.what << ": " << error;
        }
    }
}

TEST(VarnokPublishCommand, CheckAcceptsItsOwnTreeAndNamesBothKeysForAnother) {
    ScratchDir dir;
    WriteFileBytes(dir / "client.exe", ClientBytes(70000));
    ToolRun run =
        RunTool(dir, "keygen --out " + Quote(dir / "k.pem") + " --pub " + Quote(dir / "k.hex"));
    ASSERT_EQ(run.exitCode, 0) << run.err;
    const std::string keyHex = run.out.substr(0, 128);
    run = RunTool(dir, "publish --key " + Quote(dir / "k.pem") + " --exe " +
                           Quote(dir / "client.exe") + " --version 2.0 --build 2 --out " +
                           Quote(dir / "tree"));
    ASSERT_EQ(run.exitCode, 0) << run.err;

    run = RunTool(dir, "check --tree " + Quote(dir / "tree") + " --pub " + Quote(dir / "k.hex"));
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_NE(run.out.find("launcher 2.0 build 2"), std::string::npos) << run.out;

    run = RunTool(dir, "check --tree " + Quote(dir / "tree") + " --pub " + DevPublicHex());
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_NE(run.err.find(DevPublicHex().substr(0, 16)), std::string::npos) << run.err;
    EXPECT_NE(run.err.find(keyHex.substr(0, 16)), std::string::npos) << run.err;
}
