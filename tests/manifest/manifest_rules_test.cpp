#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <string>

#include "common/scoped_override.h"
#include "manifest/sha256.h"
#include "manifest/update_manifest.h"
#include "tests/support/scratch.h"

using nlohmann::json;

namespace {

constexpr int64_t kNow = 1800000000;
constexpr char kAbcDigest[] = "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad";

struct Args {
    uint64_t installedLauncher = 0;
    uint64_t installedGame = 0;
    std::string base;
    int64_t lastPublishedAt = 0;
    int64_t now = kNow;
};

// The rules' result code, or "type_error" when a key of the wrong type raised (which the envelope
// check reports as "manifest_parse_failed").
std::string Code(const json& manifest, const Args& args = {}, UpdateManifest* out = nullptr) {
    UpdateManifest record;
    try {
        const bool ok =
            ApplyManifestRules(manifest, record, args.installedLauncher, args.installedGame,
                               args.base, args.lastPublishedAt, args.now);
        EXPECT_EQ(ok, record.errorCode.empty());
        EXPECT_EQ(ok, record.valid);
    } catch (const json::type_error&) {
        record.errorCode = "type_error";
    }
    if (out) *out = record;
    return record.errorCode;
}

std::string CodeOfText(const std::string& text, const Args& args = {}) {
    return Code(json::parse(text), args);
}

json Entry(std::string url = "/api/updates/files/a.bin", std::string relPath = "data/a.bin",
           uint64_t size = 3) {
    return {{"file_id", "a"},
            {"rel_path", relPath},
            {"url", url},
            {"sha256", kAbcDigest},
            {"size_bytes", size}};
}

json Manifest() {
    return {{"schema_version", 1}, {"published_at", kNow}};
}

json WithLauncher(const json& entry) {
    json m = Manifest();
    m["launcher"] = entry;
    return m;
}

json WithGameFiles(const json& files) {
    json m = Manifest();
    m["game_files"] = files;
    return m;
}

std::string LauncherCode(const json& entry) {
    return Code(WithLauncher(entry));
}

}  // namespace

TEST(ManifestSchema, OnlyAnObjectWithSchemaVersionOneIsSupported) {
    EXPECT_EQ(CodeOfText(R"({"schema_version": 1})"), "");
    EXPECT_EQ(CodeOfText(R"({"schema_version": 2})"), "unsupported_manifest_schema");
    EXPECT_EQ(CodeOfText(R"({})"), "unsupported_manifest_schema");
    EXPECT_EQ(CodeOfText(R"([{"schema_version": 1}])"), "unsupported_manifest_schema");
    EXPECT_EQ(CodeOfText(R"("schema_version")"), "unsupported_manifest_schema");
    EXPECT_EQ(CodeOfText(R"({"schema_version": 0.99})"), "unsupported_manifest_schema");
}

TEST(ManifestSchema, SchemaVersionIsReadAsASigned32BitNumber) {
    EXPECT_EQ(CodeOfText(R"({"schema_version": true})"), "");
    EXPECT_EQ(CodeOfText(R"({"schema_version": false})"), "unsupported_manifest_schema");
    EXPECT_EQ(CodeOfText(R"({"schema_version": 1.5})"), "");
    EXPECT_EQ(CodeOfText(R"({"schema_version": 1.0})"), "");
    // The low 32 bits of an integer are kept: 2^32 + 1 and -(2^32 - 1) both read as 1.
    EXPECT_EQ(CodeOfText(R"({"schema_version": 4294967297})"), "");
    EXPECT_EQ(CodeOfText(R"({"schema_version": -4294967295})"), "");
    EXPECT_EQ(CodeOfText(R"({"schema_version": 18446744069414584321})"), "");
    EXPECT_EQ(CodeOfText(R"({"schema_version": 4294967296})"), "unsupported_manifest_schema");
    EXPECT_EQ(CodeOfText(R"({"schema_version": "1"})"), "type_error");
    EXPECT_EQ(CodeOfText(R"({"schema_version": null})"), "type_error");
    EXPECT_EQ(CodeOfText(R"({"schema_version": [1]})"), "type_error");
}

TEST(ManifestTypedReads, BuildsAreUnsigned64BitWithWrapAndTruncation) {
    UpdateManifest m;
    Code(json::parse(R"({"schema_version": 1, "launcher_build": -1, "game_build": 3.9})"), {}, &m);
    EXPECT_EQ(m.launcher_build, UINT64_MAX);
    EXPECT_EQ(m.game_build, 3u);
    Code(json::parse(
             R"({"schema_version": 1, "launcher_build": 18446744073709551615, "game_build": 0.5})"),
         {}, &m);
    EXPECT_EQ(m.launcher_build, UINT64_MAX);
    EXPECT_EQ(m.game_build, 0u);
    Code(json::parse(R"({"schema_version": 1, "launcher_build": 1e19})"), {}, &m);
    EXPECT_EQ(m.launcher_build, 10000000000000000000u);
    for (const char* bad : {"true", "false", "null", "\"5\"", "[]", "{}", "1e300", "-1e300"}) {
        EXPECT_EQ(
            CodeOfText(std::string(R"({"schema_version": 1, "launcher_build": )") + bad + "}"),
            "type_error")
            << bad;
        EXPECT_EQ(CodeOfText(std::string(R"({"schema_version": 1, "game_build": )") + bad + "}"),
                  "type_error")
            << bad;
    }
}

TEST(ManifestTypedReads, PublishedAtIsSigned64BitNumbersOnly) {
    UpdateManifest m;
    Code(json::parse(R"({"schema_version": 1, "published_at": 1800000000.9})"), {}, &m);
    EXPECT_EQ(m.published_at, kNow);
    for (const char* bad : {"true", "null", "\"1800000000\"", "1e300"})
        EXPECT_EQ(CodeOfText(std::string(R"({"schema_version": 1, "published_at": )") + bad + "}"),
                  "type_error")
            << bad;
}

TEST(ManifestTypedReads, TextsMustBeStringsAndAbsentKeysTakeDefaults) {
    UpdateManifest m;
    EXPECT_EQ(Code(json::parse(R"({"schema_version": 1, "extra": null})"), {}, &m), "");
    EXPECT_EQ(m.launcher_version, "");
    EXPECT_EQ(m.published_at, 0);
    for (const char* key : {"launcher_version", "game_version", "notes_en", "notes_ru"}) {
        for (const char* bad : {"5", "null", "true", "[\"a\"]"})
            EXPECT_EQ(
                CodeOfText(std::string(R"({"schema_version": 1, ")") + key + "\": " + bad + "}"),
                "type_error")
                << key << " " << bad;
    }
}

TEST(ManifestTypedReads, EntryKeysHaveTheirOwnTypes) {
    GameFileEntry entry;
    ASSERT_TRUE(ParseFileEntry(Entry(), true, entry));
    EXPECT_TRUE(entry.required);
    json e = Entry();
    e["required"] = false;
    ASSERT_TRUE(ParseFileEntry(e, true, entry));
    EXPECT_FALSE(entry.required);
    e["size_bytes"] = 3.7;
    ASSERT_TRUE(ParseFileEntry(e, true, entry));
    EXPECT_EQ(entry.size_bytes, 3u);
    for (const json& bad : {json(1), json("true"), json(nullptr)}) {
        json r = Entry();
        r["required"] = bad;
        EXPECT_THROW(ParseFileEntry(r, true, entry), json::type_error) << bad;
    }
    for (const char* key : {"file_id", "rel_path", "url", "sha256"}) {
        json t = Entry();
        t[key] = 1;
        EXPECT_THROW(ParseFileEntry(t, true, entry), json::type_error) << key;
    }
    for (const json& bad : {json("3"), json(true), json(nullptr)}) {
        json s = Entry();
        s["size_bytes"] = bad;
        EXPECT_THROW(ParseFileEntry(s, true, entry), json::type_error) << bad;
    }
}

TEST(ManifestTypedReads, ATypeErrorAnywhereWinsOverTheLaterChecks) {
    Args downgrade;
    downgrade.installedLauncher = 5;
    EXPECT_EQ(CodeOfText(R"({"schema_version": 1, "launcher_build": 1, "notes_ru": 5})", downgrade),
              "type_error");
    EXPECT_EQ(CodeOfText(R"({"schema_version": 1, "launcher_build": 1})", downgrade),
              "downgrade_rejected");
    EXPECT_EQ(CodeOfText(R"({"schema_version": 1, "published_at": -1, "notes_en": null})"),
              "type_error");
}

TEST(ManifestBuilds, DowngradesAreRefusedAndEqualBuildsAreNoUpdate) {
    json m = WithLauncher(Entry("/api/updates/files/c.exe", "", 500));
    m["launcher_build"] = 100;
    m["game_build"] = 10;
    Args args;
    args.installedLauncher = 100;
    UpdateManifest record;
    EXPECT_EQ(Code(m, args, &record), "");
    ASSERT_TRUE(record.launcher.has_value());
    EXPECT_FALSE(record.launcherUpdateAvailable);
    EXPECT_EQ(record.downloadBytesTotal, 0u);

    m["launcher_build"] = 101;
    EXPECT_EQ(Code(m, args, &record), "");
    EXPECT_TRUE(record.launcherUpdateAvailable);
    EXPECT_EQ(record.downloadBytesTotal, 500u);

    m["launcher_build"] = 99;
    EXPECT_EQ(Code(m, args), "downgrade_rejected");
    m["launcher_build"] = 100;
    args.installedGame = 11;
    EXPECT_EQ(Code(m, args), "downgrade_rejected");
    // With nothing installed and no earlier manifest, neither can happen.
    m["launcher_build"] = 0;
    m["game_build"] = 0;
    EXPECT_EQ(Code(m), "");
}

TEST(ManifestTime, NegativeZeroAndRollback) {
    json m = Manifest();
    m["published_at"] = -1;
    EXPECT_EQ(Code(m), "invalid_published_at");
    m["published_at"] = 0;
    Args farFuture;
    farFuture.now = INT64_MAX;
    EXPECT_EQ(Code(m, farFuture), "");

    Args last;
    last.lastPublishedAt = kNow - 100;
    m["published_at"] = kNow - 100;
    EXPECT_EQ(Code(m, last), "");
    m["published_at"] = kNow - 101;
    EXPECT_EQ(Code(m, last), "rollback_rejected");
    m["published_at"] = 0;
    EXPECT_EQ(Code(m, last), "rollback_rejected");
    m["published_at"] = -1;
    EXPECT_EQ(Code(m, last), "invalid_published_at");
}

TEST(ManifestTime, FreshnessBoundsAreInclusive) {
    json m = Manifest();
    m["published_at"] = kNow + 86400;
    EXPECT_EQ(Code(m), "");
    m["published_at"] = kNow + 86401;
    EXPECT_EQ(Code(m), "manifest_timestamp_future");
    m["published_at"] = kNow - 31536000;
    EXPECT_EQ(Code(m), "");
    m["published_at"] = kNow - 31536001;
    EXPECT_EQ(Code(m), "manifest_timestamp_stale");

    Args early;
    early.now = 31536000;
    m["published_at"] = 1;
    EXPECT_EQ(Code(m, early), "");
    m["published_at"] = INT64_MAX;
    Args late;
    late.now = INT64_MAX;
    EXPECT_EQ(Code(m, late), "");
}

TEST(ManifestTime, TheSystemClockIsReadOnlyWhenNeeded) {
    static int reads = 0;
    reads = 0;
    ScopedOverride clock(
        g_unixTimeNow, +[]() -> int64_t {
            ++reads;
            return kNow;
        });
    json m = Manifest();
    Args useClock;
    useClock.now = 0;
    m["published_at"] = kNow + 86401;
    EXPECT_EQ(Code(m, useClock), "manifest_timestamp_future");
    EXPECT_EQ(reads, 1);
    useClock.now = -5;
    m["published_at"] = kNow - 31536001;
    EXPECT_EQ(Code(m, useClock), "manifest_timestamp_stale");
    EXPECT_EQ(reads, 2);
    m["published_at"] = 0;
    EXPECT_EQ(Code(m, useClock), "");
    m["published_at"] = kNow;
    EXPECT_EQ(Code(m), "");
    EXPECT_EQ(reads, 2);
}

TEST(ManifestLauncher, UrlNameRules) {
    EXPECT_EQ(LauncherCode(Entry("/api/updates/files/VarnokClient-1.0_b.exe")), "");
    EXPECT_EQ(LauncherCode(Entry("/api/updates/files/" + std::string(128, 'a'))), "");
    EXPECT_EQ(LauncherCode(Entry("/api/updates/files/" + std::string(129, 'a'))),
              "invalid_launcher_entry");
    for (const char* url :
         {"/api/updates/files/", "/api/updates/files", "/api/updates/files/.hidden",
          "/api/updates/files/a..b", "/api/updates/files/..", "/api/updates/files/a/b",
          "/API/updates/files/a.exe", "/api/Updates/files/a.exe",
          "https://evil/api/updates/files/a.exe", "api/updates/files/a.exe",
          "/api/updates/files/a b", "/api/updates/files/a%2e", "/api/updates/files/a\\b",
          "/api/updates/files/a~", "/api/updates/files/a?x=1", "", "/api/updates/files/\xc3\xa9"})
        EXPECT_EQ(LauncherCode(Entry(url)), "invalid_launcher_entry") << url;
}

TEST(ManifestLauncher, DigestSizeAndIdRules) {
    json e = Entry();
    e["sha256"] = "BA7816BF8F01CFEA414140DE5DAE2223B00361A396177A9CB410FF61F20015AD";
    EXPECT_EQ(LauncherCode(e), "invalid_launcher_entry");
    e["sha256"] = std::string(kAbcDigest).substr(0, 63);
    EXPECT_EQ(LauncherCode(e), "invalid_launcher_entry");
    e["sha256"] = std::string(kAbcDigest) + "0";
    EXPECT_EQ(LauncherCode(e), "invalid_launcher_entry");
    e["sha256"] = std::string(63, 'a') + "g";
    EXPECT_EQ(LauncherCode(e), "invalid_launcher_entry");

    for (uint64_t size : {uint64_t{0}, uint64_t{268435457}, UINT64_MAX})
        EXPECT_EQ(LauncherCode(Entry("/api/updates/files/a.bin", "", size)),
                  "invalid_launcher_entry")
            << size;
    EXPECT_EQ(LauncherCode(Entry("/api/updates/files/a.bin", "", 268435456)), "");
    EXPECT_EQ(LauncherCode(Entry("/api/updates/files/a.bin", "", 1)), "");

    e = Entry();
    e["file_id"] = "";
    EXPECT_EQ(LauncherCode(e), "invalid_launcher_entry");
    e["file_id"] = std::string(129, 'x');
    EXPECT_EQ(LauncherCode(e), "invalid_launcher_entry");
    e["file_id"] = std::string(128, 'x');
    EXPECT_EQ(LauncherCode(e), "");
    e.erase("file_id");
    EXPECT_EQ(LauncherCode(e), "invalid_launcher_entry");
}

TEST(ManifestLauncher, RelPathIsNotCheckedAndNonObjectsAreIgnored) {
    for (const char* rel : {"", "../../evil.exe", "C:\\Windows\\x.exe", "CON"})
        EXPECT_EQ(LauncherCode(Entry("/api/updates/files/a.bin", rel)), "") << rel;
    UpdateManifest record;
    for (const json& notObject :
         {json("a string"), json::array({Entry()}), json(5), json(nullptr)}) {
        EXPECT_EQ(Code(WithLauncher(notObject), {}, &record), "");
        EXPECT_FALSE(record.launcher.has_value());
        EXPECT_FALSE(record.launcherUpdateAvailable);
    }
}

TEST(ManifestGameFiles, ElementsMustBeValidEntriesAndEarlierOnesStay) {
    EXPECT_EQ(Code(WithGameFiles(json::array({5}))), "invalid_game_file_entry");
    EXPECT_EQ(Code(WithGameFiles(json::array({"data/a.bin"}))), "invalid_game_file_entry");
    EXPECT_EQ(Code(WithGameFiles(json::array({Entry("/api/updates/files/a.bin", "")}))),
              "invalid_game_file_entry");
    UpdateManifest record;
    EXPECT_EQ(Code(WithGameFiles(json::array(
                       {Entry(), Entry("/api/updates/files/b.bin", "../b.bin"), Entry()})),
                   {}, &record),
              "invalid_game_file_entry");
    EXPECT_EQ(record.game_files.size(), 1u);
    EXPECT_EQ(record.filesToDownload.size(), 1u);
    EXPECT_FALSE(record.gameUpdateAvailable);
    // A "game_files" that is not an array is ignored.
    EXPECT_EQ(Code(WithGameFiles(json::object({{"a", Entry()}})), {}, &record), "");
    EXPECT_TRUE(record.game_files.empty());
}

TEST(ManifestGameFiles, At512FilesTheListIsProcessedAndAt513RefusedBeforeAnyRead) {
    static int queries = 0;
    queries = 0;
    ScopedOverride kind(
        g_fileKindFollow, +[](const std::u16string&) {
            ++queries;
            return FileKind::missing;
        });
    json files = json::array();
    for (int i = 0; i < 513; ++i)
        files.push_back(
            Entry("/api/updates/files/f" + std::to_string(i), "f/" + std::to_string(i), 2));
    EXPECT_EQ(Code(WithGameFiles(files)), "too_many_game_files");
    EXPECT_EQ(queries, 0);
    files.erase(files.size() - 1);
    UpdateManifest record;
    EXPECT_EQ(Code(WithGameFiles(files), {}, &record), "");
    EXPECT_EQ(queries, 512);
    EXPECT_EQ(record.filesToDownload.size(), 512u);
    EXPECT_EQ(record.downloadBytesTotal, 1024u);
    EXPECT_TRUE(record.gameUpdateAvailable);
}

TEST(ManifestGameFiles, LocalCopiesAreComparedBySizeAndDigest) {
    ScratchDir dir;
    WriteFileBytes(dir / "same" / "a.bin", "abc");
    WriteFileBytes(dir / "other.bin", "abd");
    WriteFileBytes(dir / "longer.bin", "abcd");
    WriteFileBytes(dir / "empty.bin", "");
    std::filesystem::create_directories(dir / "folder.bin");
    json one = Entry("/api/updates/files/one", "empty.bin", 1);
    json files = {
        Entry("/api/updates/files/a", "same/a.bin"), Entry("/api/updates/files/b", "other.bin"),
        Entry("/api/updates/files/c", "longer.bin"), Entry("/api/updates/files/d", "missing.bin"),
        Entry("/api/updates/files/e", "folder.bin"), one};
    json m = WithGameFiles(files);
    m["launcher"] = Entry("/api/updates/files/l", "", 1000);
    m["launcher_build"] = 1;
    Args args;
    args.base = dir.Utf8() + "/";
    UpdateManifest record;
    ASSERT_EQ(Code(m, args, &record), "");
    EXPECT_EQ(record.game_files.size(), 6u);
    ASSERT_EQ(record.filesToDownload.size(), 5u);
    EXPECT_EQ(record.filesToDownload[0].rel_path, "other.bin");
    EXPECT_EQ(record.filesToDownload[4].rel_path, "empty.bin");
    EXPECT_EQ(record.downloadBytesTotal, 1000u + 3 + 3 + 3 + 3 + 1);
    EXPECT_TRUE(record.gameUpdateAvailable);
    EXPECT_TRUE(record.launcherUpdateAvailable);

    ASSERT_EQ(Code(WithGameFiles(json::array({Entry("/api/updates/files/a", "same/a.bin")})), args,
                   &record),
              "");
    EXPECT_TRUE(record.filesToDownload.empty());
    EXPECT_FALSE(record.gameUpdateAvailable);
    EXPECT_EQ(record.downloadBytesTotal, 0u);
}

TEST(ManifestGameFiles, TheLocalPathJoinsWithOneBackslash) {
    EXPECT_EQ(GameFileLocalPath(u"C:\\Game", "data/a.bin"), u"C:\\Game\\data/a.bin");
    EXPECT_EQ(GameFileLocalPath(u"C:\\Game\\", "a.bin"), u"C:\\Game\\a.bin");
    EXPECT_EQ(GameFileLocalPath(u"C:/Game/", "a.bin"), u"C:/Game/a.bin");
    EXPECT_EQ(GameFileLocalPath(u"", "a.bin"), u"a.bin");
    EXPECT_EQ(GameFileLocalPath(u"D:", "a.bin"), u"D:a.bin");
    EXPECT_EQ(GameFileLocalPath(u"1:", "a.bin"), u"1:\\a.bin");
    EXPECT_EQ(GameFileLocalPath(u"\u0418\u0433\u0440\u0430", "a.bin"),
              u"\u0418\u0433\u0440\u0430\\a.bin");
}

TEST(IsSafeRelPath, AcceptsPlainRelativePaths) {
    for (const char* path : {"a", "data/a.bin", "Data Files/x-y_z.pak", "a/b/c/d.e.f",
                             "console/nul_/com10.txt", "x/.hidden", "~tilde/(1)"})
        EXPECT_TRUE(IsSafeRelPath(path)) << path;
    EXPECT_TRUE(IsSafeRelPath(std::string(240, 'a')));
    EXPECT_FALSE(IsSafeRelPath(std::string(241, 'a')));
}

TEST(IsSafeRelPath, RefusesEverythingThatCouldLeaveTheFolderOrConfuseWindows) {
    for (const char* path :
         {"",     "/a",      "\\a",    "a//b",     "a/",   "./a",        "a/./b",   "../a",
          "a/..", "a\\b",    "C:a",    "a:b",      "a./b", "a/b.",       "a /b",    "a/b ",
          "con",  "CON.txt", "a/Lpt1", "aux .log", "COM0", "nul.tar.gz", "a|b",     "a\"b",
          "a*b",  "a<b",     "a>b",    "a?b",      "a\tb", "a\x7f",      "\xc3\xa9"})
        EXPECT_FALSE(IsSafeRelPath(path)) << path;
    EXPECT_FALSE(IsSafeRelPath(std::string_view("a\0b", 3)));
}

TEST(IsReservedDeviceName, DeviceNamesWithAndWithoutExtensions) {
    for (const char* name : {"CON", "con", "PrN", "aux", "NUL", "con.txt", "Lpt1", "aux .log",
                             "COM0", "com9", "LPT9.x.y", "nul..", "con. .txt"})
        EXPECT_TRUE(IsReservedDeviceName(name)) << name;
    for (const char* name :
         {"console", "com10", "nul_", "co", "", ".con", "lpt", "comx", "c0n", "COM\xb9"})
        EXPECT_FALSE(IsReservedDeviceName(name)) << name;
}
