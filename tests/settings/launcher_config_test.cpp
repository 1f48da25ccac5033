#include <gtest/gtest.h>

#include <cstdlib>
#include <stdexcept>
#include <vector>

#ifndef _WIN32
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>
#endif

#include "common/scope_exit.h"

#include "common/build_info.h"
#include "game/game_folder.h"
#include "tests/game/real_folders.h"
#include "tests/settings/settings_fixture.h"

namespace fs = std::filesystem;

namespace {

const std::string kBuiltIn(BuiltInWebBaseUrl());

// The whole file for a record, written out by hand.
std::string ExpectedText(const LauncherConfig& c) {
    auto b = [](bool v) { return v ? std::string("true") : std::string("false"); };
    return "{\n"
           "  \"auto_check_updates\": " +
           b(c.auto_check_updates) +
           ",\n"
           "  \"auto_login\": " +
           b(c.auto_login) +
           ",\n"
           "  \"cloud_sync_enabled\": " +
           b(c.cloud_sync_enabled) +
           ",\n"
           "  \"config_version\": " +
           std::to_string(c.config_version) +
           ",\n"
           "  \"game_dir\": " +
           Quoted(c.game_dir) +
           ",\n"
           "  \"installed_game_build\": " +
           std::to_string(c.installed_game_build) +
           ",\n"
           "  \"lang\": " +
           Quoted(c.lang) +
           ",\n"
           "  \"last_manifest_published_at\": " +
           std::to_string(c.last_manifest_published_at) +
           ",\n"
           "  \"last_played\": " +
           (c.last_played ? Quoted(*c.last_played) : "null") +
           ",\n"
           "  \"launch_options\": " +
           Quoted(c.launch_options) +
           ",\n"
           "  \"local_playtime_seconds\": " +
           std::to_string(c.local_playtime_seconds) +
           ",\n"
           "  \"presence_mode\": " +
           Quoted(c.presence_mode) +
           ",\n"
           "  \"web_base_url\": " +
           Quoted(c.web_base_url) +
           "\n"
           "}";
}

// A version-2 file whose game folder the repair leaves alone (it names no existing folder, and
// the detected one is not complete).
std::string CurrentFile(const std::string& extraMembers) {
    return "{\"config_version\": 2, \"game_dir\": \"C:\\\\Games\\\\Mine\"" +
           (extraMembers.empty() ? std::string() : ", " + extraMembers) + "}";
}

}  // namespace

TEST_F(SettingsFileTest, DefaultsHoldEveryValueOfTheTableAndTheDetectedFolder) {
    const LauncherConfig d = DefaultLauncherConfig();
    EXPECT_EQ(d.config_version, 2);
    EXPECT_EQ(d.game_dir, DetectGameFolder());
    EXPECT_EQ(d.launch_options, "-novid -console -tickrate 128");
    EXPECT_EQ(d.web_base_url, kBuiltIn);
    EXPECT_EQ(d.lang, "en");
    EXPECT_EQ(d.presence_mode, "online");
    EXPECT_TRUE(d.auto_login && d.cloud_sync_enabled && d.auto_check_updates);
    EXPECT_EQ(d.installed_game_build, 1u);
    EXPECT_EQ(d.last_manifest_published_at, 0u);
    EXPECT_FALSE(d.last_played.has_value());
    EXPECT_EQ(d.local_playtime_seconds, 0u);
    const std::string game = InstallDetectedGame();
    EXPECT_EQ(DefaultLauncherConfig().game_dir, game);
}

TEST_F(SettingsFileTest, TheFileIsSortedIndentedByTwoWithoutTrailingNewlineAndRawUtf8) {
    LauncherConfig c = DefaultLauncherConfig();
    c.game_dir = "C:\\\xD0\x98\xD0\xB3\xD1\x80\xD1\x8B\\Morvanta";  // C:\Игры\Morvanta
    c.launch_options = "-x \"quoted\" tab\there /slash";
    c.last_played = "2026-12-09T06:00:00Z";
    c.installed_game_build = 18446744073709551615u;
    c.config_version = -3;
    c.auto_login = false;
    ASSERT_TRUE(SaveLauncherConfig(c));
    const std::string bytes = ReadFileBytes(ConfigFile());
    EXPECT_EQ(bytes, ExpectedText(c));
    EXPECT_NE(bytes.find("\"C:\\\\\xD0\x98\xD0\xB3\xD1\x80\xD1\x8B\\\\Morvanta\""),
              std::string::npos);
    EXPECT_NE(bytes.find("\\\"quoted\\\" tab\\there /slash"), std::string::npos);
    EXPECT_EQ(bytes.find("\\u"), std::string::npos);
    EXPECT_FALSE(fs::exists(TemporaryFile()));
}

// ---- The state table, row by row ----

TEST_F(SettingsFileTest, NoFolderAndNoFileCreatesBothFromTheDefaults) {
    ASSERT_FALSE(fs::exists(Base()));
    const LauncherConfig loaded = LoadLauncherConfig();
    EXPECT_EQ(loaded, DefaultLauncherConfig());
    EXPECT_EQ(ReadFileBytes(ConfigFile()), ExpectedText(DefaultLauncherConfig()));
    EXPECT_FALSE(fs::exists(TemporaryFile()));
}

TEST_F(SettingsFileTest, DamagedContentGivesDefaultsAndIsNeverWrittenOver) {
    InstallDetectedGame();  // even a repairable folder must not lead to a write
    for (const std::string text :
         {"", "   ", "{\"config_version\": 1,}", "{\"config_version\": 1} // note",
          "/* c */ {\"config_version\": 1}", "{\"config_version\": 1} x", "{\"lang\": \"ru\"",
          "{\"lang\": \"\xFF\"}", "{\"a\": \"\\ud800\"}", "{\"config_version\": 1}{}", "nul",
          "{'lang': 'ru'}"}) {
        WriteConfig(text);
        const FileSnapshot before = Snapshot(ConfigFile());
        EXPECT_EQ(LoadLauncherConfig(), DefaultLauncherConfig()) << text;
        EXPECT_EQ(Snapshot(ConfigFile()), before) << text;
        EXPECT_FALSE(fs::exists(TemporaryFile())) << text;
    }
}

TEST_F(SettingsFileTest, AFileOverOneMebibyteOrNestedDeeperThan64IsTreatedAsMalformed) {
    // A version-1 file is rewritten when it is taken, and left alone when it is refused.
    const std::string head = "{\"lang\": \"ru\", ";
    auto padded = [&](size_t size) {
        std::string text = head + "\"x\": 1}";
        return text + std::string(size - text.size(), ' ');
    };
    auto nested = [&](int levels) {  // the object itself is one level
        return head + "\"x\": " + std::string(levels - 1, '[') + std::string(levels - 1, ']') + "}";
    };
    auto sideBySide = [&](int count) {
        std::string items = "[]";
        for (int i = 1; i < count; ++i) items += ",[]";
        return head + "\"x\": [" + items + "]}";
    };
    const struct {
        const char* what;
        std::string text;
        bool taken;
    } cases[] = {
        {"exactly 1 MiB", padded(1048576), true},
        {"one byte over 1 MiB", padded(1048577), false},
        {"64 levels", nested(64), true},
        {"65 levels", nested(65), false},
        {"70 arrays side by side, each closed again", sideBySide(70), true},
        {"brackets inside a string", head + "\"x\": \"" + std::string(100, '[') + "\"}", true},
        {"an escaped quote inside a string", head + "\"x\": \"\\\"" + std::string(100, '{') + "\"}",
         true},
        {"16 MiB of [", std::string(16 << 20, '['), false},
    };
    LauncherConfig taken = DefaultLauncherConfig();
    taken.lang = "ru";
    for (const auto& c : cases) {
        WriteConfig(c.text);
        const FileSnapshot before = Snapshot(ConfigFile());
        EXPECT_EQ(LoadLauncherConfig(), c.taken ? taken : DefaultLauncherConfig()) << c.what;
        if (c.taken)
            EXPECT_EQ(ReadFileBytes(ConfigFile()), ExpectedText(taken)) << c.what;
        else
            EXPECT_EQ(Snapshot(ConfigFile()), before) << c.what;
        EXPECT_FALSE(fs::exists(TemporaryFile())) << c.what;
    }
}

TEST_F(SettingsFileTest, JsonThatIsNotAnObjectIsRewrittenFromTheDefaults) {
    for (const std::string text : {"[1, 2]", "5", "\"config_version\"", "null", "true", "[]"}) {
        WriteConfig(text);
        EXPECT_EQ(LoadLauncherConfig(), DefaultLauncherConfig()) << text;
        EXPECT_EQ(ReadFileBytes(ConfigFile()), ExpectedText(DefaultLauncherConfig())) << text;
    }
}

TEST_F(SettingsFileTest, AnOlderVersionIsMergedAndRewrittenAsVersionTwo) {
    for (const std::string version :
         {"", "\"config_version\": 1,", "\"config_version\": 0,", "\"config_version\": -3,",
          "\"config_version\": 2.0,", "\"config_version\": \"2\",", "\"config_version\": 2e0,",
          "\"config_version\": true,", "\"config_version\": null,"}) {
        WriteConfig("{" + version +
                    " \"lang\": \"ru\", \"auto_login\": false, \"unknown_key\": [1],"
                    " \"installed_game_build\": 42, \"last_played\": \"yesterday\"}");
        LauncherConfig expected = DefaultLauncherConfig();
        expected.lang = "ru";
        expected.auto_login = false;
        expected.installed_game_build = 42;
        expected.last_played = "yesterday";
        EXPECT_EQ(LoadLauncherConfig(), expected) << version;
        const std::string bytes = ReadFileBytes(ConfigFile());
        EXPECT_EQ(bytes, ExpectedText(expected)) << version;
        EXPECT_EQ(bytes.find("unknown_key"), std::string::npos) << version;
    }
}

TEST_F(SettingsFileTest, ACurrentFileIsMergedButNotTouched) {
    WriteConfig(
        CurrentFile("\"lang\": \"de\", \"presence_mode\": \"busy\", \"extra\": 1, "
                    "\"local_playtime_seconds\": 90"));
    const FileSnapshot before = Snapshot(ConfigFile());
    const LauncherConfig loaded = LoadLauncherConfig();
    EXPECT_EQ(loaded.game_dir, "C:\\Games\\Mine");
    EXPECT_EQ(loaded.lang, "en");
    EXPECT_EQ(loaded.presence_mode, "online");
    EXPECT_EQ(loaded.local_playtime_seconds, 90u);
    EXPECT_EQ(Snapshot(ConfigFile()), before);
}

TEST_F(SettingsFileTest, AHigherVersionStaysAndIsNotRewritten) {
    WriteConfig("{\"config_version\": 7, \"game_dir\": \"C:\\\\Games\\\\Mine\"}");
    const FileSnapshot before = Snapshot(ConfigFile());
    EXPECT_EQ(LoadLauncherConfig().config_version, 7);
    EXPECT_EQ(Snapshot(ConfigFile()), before);
}

TEST_F(SettingsFileTest, AVersionBeyondInt32IsHeldAtTheTopNotWrappedNegative) {
    WriteConfig("{\"config_version\": 4294967294, \"game_dir\": \"C:\\\\Games\\\\Mine\"}");
    const FileSnapshot before = Snapshot(ConfigFile());
    EXPECT_EQ(LoadLauncherConfig().config_version, 2147483647);
    EXPECT_EQ(Snapshot(ConfigFile()), before);
    WriteConfig("{\"config_version\": -9999999999}");
    EXPECT_EQ(LoadLauncherConfig().config_version, 2);
}

// ---- Reading conditions at their edges ----

TEST_F(SettingsFileTest, UnsignedFieldsTakeOnlyIntegersWithoutMinusSign) {
    const struct {
        const char* value;
        uint64_t build;     // installed_game_build
        uint64_t counters;  // last_manifest_published_at and local_playtime_seconds
    } cases[] = {
        {"42", 42, 42},
        {"1", 1, 1},
        {"0", 1, 0},
        {"-5", 1, 0},
        {"-0", 1, 0},
        {"42.0", 1, 0},
        {"4.2e1", 1, 0},
        {"1e2", 1, 0},
        {"\"42\"", 1, 0},
        {"true", 1, 0},
        {"18446744073709551615", 18446744073709551615u, 18446744073709551615u},
        {"18446744073709551616", 1, 0},
    };
    for (const auto& c : cases) {
        const std::string v = c.value;
        WriteConfig(CurrentFile("\"installed_game_build\": " + v +
                                ", \"last_manifest_published_at\": " + v +
                                ", \"local_playtime_seconds\": " + v));
        const LauncherConfig loaded = LoadLauncherConfig();
        EXPECT_EQ(loaded.installed_game_build, c.build) << v;
        EXPECT_EQ(loaded.last_manifest_published_at, c.counters) << v;
        EXPECT_EQ(loaded.local_playtime_seconds, c.counters) << v;
    }
}

TEST_F(SettingsFileTest, TextFieldsMatchExactlyAndCaseSensitively) {
    const struct {
        const char* lang;
        const char* mode;
        const char* expectLang;
        const char* expectMode;
    } cases[] = {
        {"\"ru\"", "\"away\"", "ru", "away"},
        {"\"en\"", "\"invisible\"", "en", "invisible"},
        {"\"ru\"", "\"offline\"", "ru", "offline"},
        {"\"de\"", "\"busy\"", "en", "online"},
        {"\"RU\"", "\"Away\"", "en", "online"},
        {"\"ru \"", "\" away\"", "en", "online"},
        {"1", "null", "en", "online"},
        {"[\"ru\"]", "{}", "en", "online"},
    };
    for (const auto& c : cases) {
        WriteConfig(
            CurrentFile(std::string("\"lang\": ") + c.lang + ", \"presence_mode\": " + c.mode));
        const LauncherConfig loaded = LoadLauncherConfig();
        EXPECT_EQ(loaded.lang, c.expectLang) << c.lang;
        EXPECT_EQ(loaded.presence_mode, c.expectMode) << c.mode;
    }
}

TEST_F(SettingsFileTest, BooleansStringsAndLastPlayedTakeOnlyTheirOwnJsonType) {
    WriteConfig(CurrentFile(
        "\"auto_login\": 0, \"cloud_sync_enabled\": \"false\", \"auto_check_updates\": false,"
        " \"launch_options\": \"\", \"last_played\": 1700000000"));
    LauncherConfig loaded = LoadLauncherConfig();
    EXPECT_TRUE(loaded.auto_login);
    EXPECT_TRUE(loaded.cloud_sync_enabled);
    EXPECT_FALSE(loaded.auto_check_updates);
    EXPECT_EQ(loaded.launch_options, "");  // any string, even empty, is taken as it is
    EXPECT_FALSE(loaded.last_played.has_value());

    WriteConfig(CurrentFile("\"launch_options\": 5, \"last_played\": null"));
    loaded = LoadLauncherConfig();
    EXPECT_EQ(loaded.launch_options, "-novid -console -tickrate 128");
    EXPECT_FALSE(loaded.last_played.has_value());

    WriteConfig(CurrentFile("\"last_played\": \"\""));
    EXPECT_EQ(LoadLauncherConfig().last_played, std::optional<std::string>(""));
}

TEST_F(SettingsFileTest, LastPlayedNullIsWrittenBackAsNull) {
    WriteConfig("{\"config_version\": 1, \"last_played\": null}");
    EXPECT_FALSE(LoadLauncherConfig().last_played.has_value());
    EXPECT_NE(ReadFileBytes(ConfigFile()).find("\"last_played\": null,"), std::string::npos);
}

TEST_F(SettingsFileTest, AnUnacceptableStoredFolderIsIgnoredWithoutARewrite) {
    for (const std::string dir : {"\\\\\\\\server\\\\share\\\\games", "Games\\\\Morvanta",
                                  "C:\\\\Games\\\\..\\\\Other", "C:\\\\a:b", "", "C:"}) {
        WriteConfig(CurrentFile("").replace(CurrentFile("").find("C:\\\\Games\\\\Mine"), 17, dir));
        const FileSnapshot before = Snapshot(ConfigFile());
        EXPECT_EQ(LoadLauncherConfig().game_dir, DetectGameFolder()) << dir;
        EXPECT_EQ(Snapshot(ConfigFile()), before) << dir;
    }
}

TEST_F(SettingsFileTest, ANonAsciiGameFolderIsKeptAndWrittenRaw) {
    const std::string dir = "D:\\\xD0\x98\xD0\xB3\xD1\x80\xD1\x8B\\Morvanta";
    WriteConfig("{\"config_version\": 1, \"game_dir\": " + Quoted(dir) + "}");
    EXPECT_EQ(LoadLauncherConfig().game_dir, dir);
    EXPECT_NE(
        ReadFileBytes(ConfigFile()).find("\"D:\\\\\xD0\x98\xD0\xB3\xD1\x80\xD1\x8B\\\\Morvanta\""),
        std::string::npos);
}

// ---- Game folder repair with real folders ----

TEST_F(SettingsFileTest, AStoredFolderWithoutTheGameIsReplacedByACompleteDetectedOne) {
    fs::create_directories(scratch_ / "empty");
    const std::string stored = FolderText(scratch_ / "empty");
    const std::string detected = InstallDetectedGame();
    WriteConfig("{\"config_version\": 2, \"game_dir\": " + Quoted(stored) + "}");
    EXPECT_EQ(LoadLauncherConfig().game_dir, detected);
    EXPECT_NE(ReadFileBytes(ConfigFile()).find("\"game_dir\": " + Quoted(detected)),
              std::string::npos);
}

TEST_F(SettingsFileTest, AStoredFolderIsKeptWhenTheDetectedOneIsNotComplete) {
    fs::create_directories(scratch_ / "empty");
    const std::string stored = FolderText(scratch_ / "empty");
    InstallDetectedGame();
    WriteFileBytes(scratch_ / "game" / "bin" / "engine.dll", "");  // now only plausible
    WriteConfig("{\"config_version\": 2, \"game_dir\": " + Quoted(stored) + "}");
    const FileSnapshot before = Snapshot(ConfigFile());
    EXPECT_EQ(LoadLauncherConfig().game_dir, stored);
    EXPECT_EQ(Snapshot(ConfigFile()), before);
}

TEST_F(SettingsFileTest, AStoredFolderWithSomeSignOfTheGameIsKept) {
    WriteFileBytes(scratch_ / "partial" / "csgo" / "pak01_dir.vpk", "");
    const std::string stored = FolderText(scratch_ / "partial");
    InstallDetectedGame();
    WriteConfig("{\"config_version\": 2, \"game_dir\": " + Quoted(stored) + "}");
    const FileSnapshot before = Snapshot(ConfigFile());
    EXPECT_EQ(LoadLauncherConfig().game_dir, stored);
    EXPECT_EQ(Snapshot(ConfigFile()), before);
}

TEST_F(SettingsFileTest, AnIgnoredStoredFolderLeavesTheDetectedOneWhichIsThenComplete) {
    const std::string detected = InstallDetectedGame();
    WriteConfig(CurrentFile("").replace(CurrentFile("").find("C:\\\\Games\\\\Mine"), 17,
                                        "relative\\\\path"));
    const FileSnapshot before = Snapshot(ConfigFile());
    EXPECT_EQ(LoadLauncherConfig().game_dir, detected);
    EXPECT_EQ(Snapshot(ConfigFile()), before);
}

// ---- web_base_url ----

TEST_F(SettingsFileTest, WebBaseUrlIsNormalisedAndVersionOneLoopbackAddressesAreDropped) {
    const struct {
        int version;
        const char* url;
        std::string expected;
    } cases[] = {
        {2, "http://localhost:8080/", "http://localhost:8080"},
        {1, "http://localhost:8080/", kBuiltIn},
        {1, "https://127.0.0.1:9443/api", kBuiltIn},
        {1, "https://[::1]", kBuiltIn},
        {1, " HTTPS://Updates.Example/Api/ ", "https://updates.example/Api"},
        {2, "http://10.0.0.5", kBuiltIn},
        {2, "https://10.0.0.5:8443/", "https://10.0.0.5:8443"},
        {2, "garbage", kBuiltIn},
    };
    for (const auto& c : cases) {
        WriteConfig("{\"config_version\": " + std::to_string(c.version) +
                    ", \"game_dir\": \"C:\\\\Games\\\\Mine\", \"web_base_url\": " + Quoted(c.url) +
                    "}");
        EXPECT_EQ(LoadLauncherConfig().web_base_url, c.expected) << c.version << " " << c.url;
    }
    WriteConfig(CurrentFile("\"web_base_url\": 8080"));
    EXPECT_EQ(LoadLauncherConfig().web_base_url, kBuiltIn);
}

// ---- The atomic writer ----

namespace {

struct SimulatedCrash : std::runtime_error {
    SimulatedCrash() : std::runtime_error("stopped between the write and the replace") {}
};
bool CrashBeforeReplace(const std::u16string&, const std::u16string&) {
    throw SimulatedCrash();
}

}  // namespace

TEST_F(SettingsFileTest, ACrashBeforeTheReplaceLeavesTheOldFileWhole) {
    WriteConfig(CurrentFile("\"lang\": \"ru\""));
    const FileSnapshot before = Snapshot(ConfigFile());
    LauncherConfig next = DefaultLauncherConfig();
    next.lang = "en";
    next.launch_options = "-new";
    {
        ScopedOverride<ReplaceFileFn> crash(g_replaceFile, &CrashBeforeReplace);
        EXPECT_THROW(SaveLauncherConfig(next), SimulatedCrash);
    }
    EXPECT_EQ(Snapshot(ConfigFile()), before);
    EXPECT_EQ(ReadFileBytes(TemporaryFile()), ExpectedText(next));  // complete, never half
    // The next start reads the old file, and the next save writes over the stale temporary file.
    EXPECT_EQ(LoadLauncherConfig().lang, "ru");
    ASSERT_TRUE(SaveLauncherConfig(next));
    EXPECT_EQ(ReadFileBytes(ConfigFile()), ExpectedText(next));
    EXPECT_FALSE(fs::exists(TemporaryFile()));
}

TEST_F(SettingsFileTest, AFailedReplaceRemovesTheTemporaryFileAndKeepsTheOldOne) {
    WriteConfig("{\"config_version\": 1}");
    const FileSnapshot before = Snapshot(ConfigFile());
    ScopedOverride<ReplaceFileFn> refuse(
        g_replaceFile, [](const std::u16string&, const std::u16string&) { return false; });
    EXPECT_FALSE(SaveLauncherConfig(DefaultLauncherConfig()));
    EXPECT_FALSE(fs::exists(TemporaryFile()));
    EXPECT_EQ(Snapshot(ConfigFile()), before);
    // The load still returns its merged record when its rewrite fails.
    EXPECT_EQ(LoadLauncherConfig(), DefaultLauncherConfig());
    EXPECT_FALSE(fs::exists(TemporaryFile()));
}

TEST_F(SettingsFileTest, ASettingsFolderThatCannotBeCreatedFailsTheSaveQuietly) {
    WriteFileBytes(Base(), "a file where the folder should be");
    EXPECT_FALSE(SaveLauncherConfig(DefaultLauncherConfig()));
    EXPECT_EQ(LoadLauncherConfig(), DefaultLauncherConfig());
    EXPECT_EQ(ReadFileBytes(Base()), "a file where the folder should be");
}

TEST_F(SettingsFileTest, WithoutALocalDataFolderTheTemporaryFolderIsTheBase) {
    // The temporary folder is pointed into the scratch folder for the length of the test.
    const fs::path temp = scratch_ / "temp";
    fs::create_directories(temp);
#ifdef _WIN32
    const char* variable = "TMP";
    const std::string saved = std::getenv(variable) ? std::getenv(variable) : "";
    _putenv_s(variable, temp.string().c_str());
    const ScopeExit restore([&] { _putenv_s(variable, saved.c_str()); });
#else
    const char* variable = "TMPDIR";
    const char* old = std::getenv(variable);
    const std::string saved = old ? old : "";
    setenv(variable, temp.c_str(), 1);
    const ScopeExit restore([&] { old ? setenv(variable, saved.c_str(), 1) : unsetenv(variable); });
#endif
    ScopedOverride<LocalAppDataFolderFn> none(g_localAppDataFolder,
                                              []() -> std::optional<std::u16string> { return {}; });
    std::u16string text = SettingsFolder();
#ifndef _WIN32
    // Joined the Windows way; the host's file calls read a backslash as a separator too.
    for (char16_t& c : text)
        if (c == u'\\') c = u'/';
#endif
    const fs::path folder(text);
    EXPECT_TRUE(fs::equivalent(folder.parent_path(), temp)) << folder;
    EXPECT_EQ(folder.filename(), "MorvantaLauncher");
    EXPECT_TRUE(fs::is_directory(folder));
}

#ifndef _WIN32
// A config.json that is there but cannot be opened still holds the user's settings: it is not
// replaced by the defaults. (A socket refuses open() even to root.)
TEST_F(SettingsFileTest, AConfigFileThatExistsButCannotBeOpenedIsNotReplaced) {
    fs::create_directories(ConfigFile().parent_path());
    const int sock = socket(AF_UNIX, SOCK_STREAM, 0);
    ASSERT_GE(sock, 0);
    const ScopeExit closeSocket([&] { close(sock); });
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const std::string path = ConfigFile().string();
    if (path.size() >= sizeof address.sun_path)
        GTEST_SKIP() << "scratch path too long for a socket";
    std::copy(path.begin(), path.end(), address.sun_path);
    ASSERT_EQ(bind(sock, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    EXPECT_EQ(LoadLauncherConfig(), DefaultLauncherConfig());
    EXPECT_TRUE(fs::is_socket(ConfigFile()));
    EXPECT_FALSE(fs::exists(TemporaryFile()));
}
#endif

// The merge on bytes in memory is the load without the file: it writes nothing itself, returns
// what the load returns, and asks for a rewrite exactly when the load rewrites.
TEST_F(SettingsFileTest, TheMergeInMemoryAnswersWhatTheLoadDoesWithoutTouchingTheFile) {
    InstallDetectedGame();
    for (const std::string& text : std::vector<std::string>{
             "{\"config_version\": 1,}", "{\"config_version\": 2.0, \"lang\": \"ru\"}",
             "[1, {\"config_version\": 7}]",
             "{\"config_version\": 2, \"game_dir\": \"C:\\\\Nowhere\"}",
             "{\"config_version\": 7, \"web_base_url\": \"http://localhost:8080/\"}",
             std::string(70, '[') + std::string(70, ']')}) {
        SCOPED_TRACE(text);
        std::error_code ignored;
        fs::remove(ConfigFile(), ignored);
        const auto merge = MergeLauncherConfigText(text, DefaultLauncherConfig());
        EXPECT_FALSE(fs::exists(ConfigFile()));

        WriteConfig(text);
        const FileSnapshot before = Snapshot(ConfigFile());
        const LauncherConfig loaded = LoadLauncherConfig();
        const bool rewritten = !(Snapshot(ConfigFile()) == before);
        if (!merge) {
            EXPECT_EQ(loaded, DefaultLauncherConfig());
            EXPECT_FALSE(rewritten);
        } else {
            EXPECT_EQ(loaded, merge->config);
            EXPECT_EQ(rewritten, merge->rewrite);
        }
    }
}
