// Arbitrary bytes as the server's answer to the manifest request. Each input is checked twice:
// as it came, under the built-in key, and re-signed by the publisher's tool with a key of this
// run, so that the fuzzer is not stuck at the signature. Properties: no exception leaves the
// check; the result, `valid` and the code agree; nothing of the manifest is read before the
// signature holds; a code that is not one of ours is the server's own "error" text; a manifest
// the publisher's tool signed always passes the signature; and past it the envelope answers
// exactly what the content check answers for the signed text.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <set>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

#include "common/build_info.h"
#include "fuzz/property.h"
#include "manifest/sha256.h"
#include "manifest/update_manifest.h"
#include "tools/keys.h"

namespace {

constexpr int64_t kNow = 1800000000;
constexpr std::string_view kBase = "C:\\Games\\Morvanta";

FileKind NoLocalFile(const std::u16string&) {
    return FileKind::missing;
}

const std::set<std::string> kCodes{"manifest_parse_failed",
                                   "bad_envelope",
                                   "server_error",
                                   "missing_signature",
                                   "invalid_signature",
                                   "unsupported_manifest_schema",
                                   "downgrade_rejected",
                                   "invalid_published_at",
                                   "rollback_rejected",
                                   "manifest_timestamp_future",
                                   "manifest_timestamp_stale",
                                   "invalid_launcher_entry",
                                   "too_many_game_files",
                                   "invalid_game_file_entry"};

// The record's content fields, which nothing before the signature may fill.
bool ContentUntouched(const UpdateManifest& m) {
    return !m.valid && !m.launcherUpdateAvailable && !m.gameUpdateAvailable &&
           m.downloadBytesTotal == 0 && m.launcher_build == 0 && m.launcher_version.empty() &&
           m.game_build == 0 && m.game_version.empty() && m.published_at == 0 &&
           m.notes_en.empty() && m.notes_ru.empty() && !m.launcher && m.game_files.empty() &&
           m.filesToDownload.empty();
}

UpdateManifest Verify(std::string_view body, std::string_view key, bool& result) {
    UpdateManifest record;
    record.errorCode = "left over";
    record.launcher_build = 99;
    try {
        result = VerifyUpdateManifest(body.data(), body.size(), 0, 0, kBase, record, key.data(),
                                      key.size(), 0, kNow);
    } catch (...) {
        FUZZ_PROPERTY(false, "no exception leaves the envelope check");
    }
    FUZZ_PROPERTY(result == record.valid, "the result is the valid flag");
    if (result)
        FUZZ_PROPERTY(record.errorCode.empty() && record.signatureVerified,
                      "an accepted manifest is signed and carries no code");
    if (!record.signatureVerified)
        FUZZ_PROPERTY(ContentUntouched(record), "nothing is read before the signature holds");
    return record;
}

// The "error" text of an envelope that reports a server error, when the body is one.
bool IsServerErrorText(std::string_view body, const std::string& code) {
    const auto envelope = nlohmann::json::parse(body, nullptr, false, false);
    if (!envelope.is_object()) return false;
    const auto ok = envelope.find("ok");
    if (ok != envelope.end() && ok->is_boolean() && ok->get<bool>()) return false;
    const auto error = envelope.find("error");
    return error != envelope.end() && error->is_string() && error->get<std::string>() == code;
}

struct RunKey {
    ManifestKeyPair pair;
    RunKey() {
        std::string error;
        if (!GenerateManifestKey(pair, error)) {
            std::fprintf(stderr, "no key for the run: %s\n", error.c_str());
            __builtin_trap();
        }
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const RunKey runKey;
    static const bool installed = [] {
        g_fileKindFollow = &NoLocalFile;
        return true;
    }();
    (void)installed;
    const std::string_view body(reinterpret_cast<const char*>(data), size);

    // As it came, under the built-in key: no fuzzer forges that signature.
    bool result = false;
    const UpdateManifest asIs = Verify(body, BuiltInManifestPublicKey(), result);
    FUZZ_PROPERTY(!asIs.signatureVerified, "no input forges the built-in key's signature");
    if (kCodes.count(asIs.errorCode) == 0)
        FUZZ_PROPERTY(IsServerErrorText(body, asIs.errorCode),
                      "a code of none of ours is the server's own error text");

    // Re-signed: an object whose manifest_json is a text gets the run key's signature over it.
    nlohmann::json envelope = nlohmann::json::parse(body, nullptr, false, false);
    if (!envelope.is_object()) return 0;
    const auto text = envelope.find("manifest_json");
    if (text == envelope.end() || !text->is_string()) return 0;
    const std::string signedText = text->get<std::string>();
    std::string signature;
    std::string error;
    if (!SignManifestText(runKey.pair.privatePem, signedText, signature, error)) {
        std::fprintf(stderr, "signing failed: %s\n", error.c_str());
        __builtin_trap();
    }
    envelope["signature_hex"] = signature;
    const std::string resigned = envelope.dump();
    const UpdateManifest checked = Verify(resigned, runKey.pair.publicHex, result);

    const auto ok = envelope.find("ok");
    const bool serverOk = ok != envelope.end() && ok->is_boolean() && ok->get<bool>();
    if (!serverOk || signedText.empty()) {
        FUZZ_PROPERTY(!checked.signatureVerified, "no manifest is read from a refused envelope");
        return 0;
    }
    FUZZ_PROPERTY(checked.signatureVerified,
                  "what the publisher's tool signs, the installer verifies");

    UpdateManifest direct;
    direct.signatureVerified = true;
    CheckSignedManifestText(signedText, 0, 0, kBase, direct, 0, kNow);
    FUZZ_PROPERTY(direct.valid == checked.valid && direct.errorCode == checked.errorCode &&
                      direct.launcher_build == checked.launcher_build &&
                      direct.published_at == checked.published_at &&
                      direct.game_files.size() == checked.game_files.size() &&
                      direct.launcher.has_value() == checked.launcher.has_value(),
                  "past the signature the envelope answers what the content check answers");
    return 0;
}
