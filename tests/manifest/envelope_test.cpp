#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <string>

#include "manifest/update_manifest.h"
#include "tests/manifest/signature_vectors.h"
#include "tests/support/scratch.h"

namespace {

// The time the signed test manifests were published at.
constexpr int64_t kNow = 1800000000;

std::string Envelope(std::string_view text, std::string_view signature, bool asciiOnly = false) {
    nlohmann::ordered_json envelope;
    envelope["ok"] = true;
    envelope["manifest_json"] = std::string(text);
    envelope["signature_hex"] = std::string(signature);
    return envelope.dump(2, ' ', asciiOnly);
}

std::string SignedEnvelope(std::string_view vectorName, bool asciiOnly = false) {
    const SignedVector& v = FindVector(vectorName);
    return Envelope(v.message, v.signatureHex, asciiOnly);
}

UpdateManifest Verify(std::string_view body, std::string_view key = kVectorPublicKey) {
    UpdateManifest manifest;
    manifest.errorCode = "left over";
    manifest.launcher = LauncherEntry{};
    manifest.valid = true;
    VerifyUpdateManifest(body.data(), body.size(), 0, 0, "", manifest, key.data(), key.size(), 0,
                         kNow);
    return manifest;
}

std::string CodeOf(std::string_view body) {
    return Verify(body).errorCode;
}

}  // namespace

TEST(VerifyUpdateManifest, ASignedManifestIsAcceptedAndRead) {
    const std::string body = SignedEnvelope("manifest_valid");
    UpdateManifest m;
    ASSERT_TRUE(VerifyUpdateManifest(body.data(), body.size(), 0, 0, "", m, kVectorPublicKey.data(),
                                     kVectorPublicKey.size(), 0, kNow))
        << m.errorCode;
    EXPECT_TRUE(m.valid);
    EXPECT_TRUE(m.signatureVerified);
    EXPECT_EQ(m.errorCode, "");
    EXPECT_EQ(m.launcher_build, 42u);
    EXPECT_EQ(m.launcher_version, "1.4.2");
    EXPECT_EQ(m.game_build, 7u);
    EXPECT_EQ(m.game_version, "0.7");
    EXPECT_EQ(m.published_at, kNow);
    EXPECT_EQ(m.notes_en, "Fixes \"quoted\" things\tand\nlines");
    EXPECT_EQ(m.notes_ru,
              "\xd0\x98\xd1\x81\xd0\xbf\xd1\x80\xd0\xb0\xd0\xb2\xd0\xbb\xd0\xb5\xd0\xbd\xd0\xb8\xd1"
              "\x8f \xe2\x80\x94 ok");
    ASSERT_TRUE(m.launcher.has_value());
    EXPECT_EQ(m.launcher->url, "/api/updates/files/VarnokClient-1.4.2.exe");
    EXPECT_EQ(m.launcher->size_bytes, 70000u);
    EXPECT_TRUE(m.launcherUpdateAvailable);
    EXPECT_EQ(m.downloadBytesTotal, 70000u);
    EXPECT_FALSE(m.gameUpdateAvailable);
}

TEST(VerifyUpdateManifest, OnlyTheDecodedManifestTextIsVerifiedNotItsEscaping) {
    EXPECT_TRUE(Verify(SignedEnvelope("manifest_valid", true)).valid);
    EXPECT_TRUE(Verify(SignedEnvelope("manifest_valid", false)).valid);
    // The body need not be zero-terminated: only `length` bytes are read.
    const std::string body = SignedEnvelope("manifest_valid") + "}garbage";
    UpdateManifest m;
    EXPECT_TRUE(VerifyUpdateManifest(body.data(), body.size() - 8, 0, 0, "", m,
                                     kVectorPublicKey.data(), 128, 0, kNow));
    EXPECT_TRUE(Verify(SignedEnvelope("manifest_valid") + " \n\t ").valid);
}

TEST(VerifyUpdateManifest, TheSignatureMustCoverTheExactText) {
    const SignedVector& v = FindVector("manifest_valid");
    const std::string reserialised = nlohmann::json::parse(v.message).dump();
    UpdateManifest m = Verify(Envelope(reserialised, v.signatureHex));
    EXPECT_EQ(m.errorCode, "invalid_signature");
    EXPECT_FALSE(m.signatureVerified);
    EXPECT_FALSE(m.valid);

    std::string otherKey(kVectorPublicKey);
    otherKey[5] = otherKey[5] == '0' ? '1' : '0';
    EXPECT_EQ(Verify(SignedEnvelope("manifest_valid"), otherKey).errorCode, "invalid_signature");
}

TEST(VerifyUpdateManifest, SignatureHexCaseAndForeignCharacters) {
    const SignedVector& v = FindVector("manifest_valid");
    std::string upper(v.signatureHex);
    for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    EXPECT_TRUE(Verify(Envelope(v.message, upper)).valid);
    std::string foreign(v.signatureHex);
    foreign[0] = 'g';
    EXPECT_EQ(CodeOf(Envelope(v.message, foreign)), "invalid_signature");
}

TEST(VerifyUpdateManifest, MissingTextOrWrongSignatureLengthIsMissingSignature) {
    const SignedVector& v = FindVector("manifest_valid");
    const std::string sig(v.signatureHex);
    EXPECT_EQ(CodeOf(Envelope("", sig)), "missing_signature");
    EXPECT_EQ(CodeOf(Envelope(v.message, sig.substr(0, 127))), "missing_signature");
    EXPECT_EQ(CodeOf(Envelope(v.message, sig + "00")), "missing_signature");
    EXPECT_EQ(CodeOf(R"({"ok": true})"), "missing_signature");
    EXPECT_EQ(CodeOf(R"({"ok": true, "manifest_json": "{}"})"), "missing_signature");
}

TEST(VerifyUpdateManifest, ServerErrorsAreTakenOverVerbatim) {
    EXPECT_EQ(CodeOf(R"({"ok": false})"), "server_error");
    EXPECT_EQ(CodeOf(R"({})"), "server_error");
    EXPECT_EQ(CodeOf(R"({"ok": false, "error": "maintenance window"})"), "maintenance window");
    UpdateManifest m = Verify(R"({"ok": false, "error": ""})");
    EXPECT_EQ(m.errorCode, "");
    EXPECT_FALSE(m.valid);
    // "error" is not read when "ok" is true.
    EXPECT_EQ(CodeOf(R"({"ok": true, "error": 5})"), "missing_signature");
}

TEST(VerifyUpdateManifest, BodiesThatAreNotOneJsonObject) {
    EXPECT_EQ(CodeOf("not json"), "manifest_parse_failed");
    EXPECT_EQ(CodeOf(""), "manifest_parse_failed");
    EXPECT_EQ(CodeOf(R"({"ok": false} {"ok": false})"), "manifest_parse_failed");
    EXPECT_EQ(CodeOf(R"(/* note */ {"ok": false})"), "manifest_parse_failed");
    EXPECT_EQ(CodeOf(R"([{"ok": true}])"), "bad_envelope");
    EXPECT_EQ(CodeOf(R"("ok")"), "bad_envelope");
    EXPECT_EQ(CodeOf("5"), "bad_envelope");
}

TEST(VerifyUpdateManifest, EnvelopeKeysOfTheWrongTypeAreParseFailures) {
    EXPECT_EQ(CodeOf(R"({"ok": 1})"), "manifest_parse_failed");
    EXPECT_EQ(CodeOf(R"({"ok": null})"), "manifest_parse_failed");
    EXPECT_EQ(CodeOf(R"({"ok": "true"})"), "manifest_parse_failed");
    EXPECT_EQ(CodeOf(R"({"ok": false, "error": 5})"), "manifest_parse_failed");
    EXPECT_EQ(CodeOf(R"({"ok": false, "error": null})"), "manifest_parse_failed");
    EXPECT_EQ(CodeOf(R"({"ok": true, "manifest_json": {}, "signature_hex": ""})"),
              "manifest_parse_failed");
    EXPECT_EQ(CodeOf(R"({"ok": true, "manifest_json": "{}", "signature_hex": null})"),
              "manifest_parse_failed");
}

TEST(VerifyUpdateManifest, ContentFailuresAfterTheSignatureKeepSignatureVerified) {
    for (const auto& [name, code] :
         {std::pair{"manifest_not_json", "manifest_parse_failed"},
          std::pair{"manifest_type_error", "manifest_parse_failed"},
          std::pair{"manifest_schema_2", "unsupported_manifest_schema"}}) {
        const UpdateManifest m = Verify(SignedEnvelope(name));
        EXPECT_EQ(m.errorCode, code) << name;
        EXPECT_TRUE(m.signatureVerified) << name;
        EXPECT_FALSE(m.valid) << name;
    }
}

TEST(VerifyUpdateManifest, TheRecordIsResetOnEveryCall) {
    const UpdateManifest m = Verify(R"({"ok": false})");
    EXPECT_FALSE(m.valid);
    EXPECT_FALSE(m.launcher.has_value());
    EXPECT_EQ(m.errorCode, "server_error");
}

TEST(VerifyUpdateManifest, TheClockAndBuildsArePassedThrough) {
    const std::string body = SignedEnvelope("manifest_valid");
    const char* key = kVectorPublicKey.data();
    UpdateManifest m;
    EXPECT_FALSE(
        VerifyUpdateManifest(body.data(), body.size(), 0, 0, "", m, key, 128, 0, kNow - 86401));
    EXPECT_EQ(m.errorCode, "manifest_timestamp_future");
    EXPECT_FALSE(VerifyUpdateManifest(body.data(), body.size(), 43, 0, "", m, key, 128, 0, kNow));
    EXPECT_EQ(m.errorCode, "downgrade_rejected");
    EXPECT_FALSE(VerifyUpdateManifest(body.data(), body.size(), 0, 8, "", m, key, 128, 0, kNow));
    EXPECT_EQ(m.errorCode, "downgrade_rejected");
    EXPECT_FALSE(
        VerifyUpdateManifest(body.data(), body.size(), 0, 0, "", m, key, 128, kNow + 1, kNow));
    EXPECT_EQ(m.errorCode, "rollback_rejected");
    EXPECT_TRUE(VerifyUpdateManifest(body.data(), body.size(), 42, 7, "", m, key, 128, kNow, kNow));
    EXPECT_FALSE(m.launcherUpdateAvailable);
    EXPECT_EQ(m.downloadBytesTotal, 0u);
}

// The second half of the envelope check on its own: what it answers for a text is what the
// envelope answers once the signature over that text holds.
TEST(CheckSignedManifestText, AnswersWhatTheEnvelopeAnswersPastTheSignature) {
    for (const char* name : {"manifest_valid", "manifest_not_json", "manifest_type_error"}) {
        SCOPED_TRACE(name);
        const SignedVector& v = FindVector(name);
        const UpdateManifest viaEnvelope = Verify(SignedEnvelope(name));
        ASSERT_TRUE(viaEnvelope.signatureVerified);
        UpdateManifest direct;
        direct.signatureVerified = true;
        const bool ok = CheckSignedManifestText(v.message, 0, 0, "", direct, 0, kNow);
        EXPECT_EQ(ok, viaEnvelope.valid);
        EXPECT_EQ(direct.valid, viaEnvelope.valid);
        EXPECT_EQ(direct.errorCode, viaEnvelope.errorCode);
        EXPECT_EQ(direct.launcher_build, viaEnvelope.launcher_build);
        EXPECT_EQ(direct.published_at, viaEnvelope.published_at);
        EXPECT_EQ(direct.launcher.has_value(), viaEnvelope.launcher.has_value());
    }
}

TEST(CheckSignedManifestText, EveryExceptionBecomesParseFailedAndNothingLeaves) {
    const struct {
        const char* text;
        const char* code;
    } cases[] = {
        {"", "manifest_parse_failed"},
        {"{\"schema_version\": 1} {}", "manifest_parse_failed"},
        {"{\"schema_version\": 1, /* c */ \"x\": 1}", "manifest_parse_failed"},
        {"{\"schema_version\": \"1\"}", "manifest_parse_failed"},
        {"{\"schema_version\": 1, \"published_at\": 1e400}", "manifest_parse_failed"},
        {"{\"schema_version\": 1, \"launcher_build\": true}", "manifest_parse_failed"},
        {"[{\"schema_version\": 1}]", "unsupported_manifest_schema"},
        {"{\"schema_version\": 1, \"published_at\": -1}", "invalid_published_at"},
        {"{\"schema_version\": 1, \"published_at\": 1800086401}", "manifest_timestamp_future"},
        {"{\"schema_version\": 1}", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        UpdateManifest m;
        m.signatureVerified = true;
        bool ok = false;
        EXPECT_NO_THROW(ok = CheckSignedManifestText(c.text, 0, 0, "", m, 0, kNow));
        EXPECT_EQ(ok, std::string(c.code).empty());
        EXPECT_EQ(m.valid, ok);
        EXPECT_EQ(m.errorCode, c.code);
        EXPECT_TRUE(m.signatureVerified);
    }
}
