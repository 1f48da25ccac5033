// Arbitrary bytes as config.json, merged in memory over the defaults the way the settings load
// merges the file, on a fixed machine: C: and D: fixed drives, Q: a network drive, a complete game
// in D:\Games\Morvanta, a plausible one in C:\Games\Plausible, a game of another patch in
// C:\Games\Old and a junction at C:\Link. An input of odd length is merged with that complete game
// detected, one of even length with a detected folder that holds nothing. Properties: no exception
// leaves the merge; bytes that are not one JSON value are never merged (the file is then left
// alone); every merged field keeps its rule (version, known texts, a usable or detected game
// folder, a normalised base URL that is never clear text to another machine); and what the load
// would write reads back to the same record without another write.
#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

#include "common/own_path.h"
#include "common/text.h"
#include "fuzz/property.h"
#include "game/file_queries.h"
#include "game/local_folder.h"
#include "game/windows_path.h"
#include "settings/launcher_config.h"
#include "settings/web_base_url.h"

namespace {

struct FixedMachine {
    std::map<std::u16string, PathStatus> entries;  // by normal form, upper-cased
    std::map<std::u16string, std::string> heads;
    std::map<std::u16string, uint32_t> attributes;

    static std::u16string Key(std::u16string_view path) {
        std::u16string key = WindowsLexicallyNormal(path);
        while (key.size() > 3 && key.back() == u'\\') key.pop_back();
        for (char16_t& c : key)
            if (c >= u'a' && c <= u'z') c = c - u'a' + u'A';
        return key;
    }
    void Folder(std::u16string_view path) {
        entries[Key(path)] = PathStatus{true, kAttributeDirectory, 0, 0};
        attributes[Key(path)] = kAttributeDirectory;
    }
    void File(std::u16string_view path, uint64_t size) {
        entries[Key(path)] = PathStatus{true, kAttributeNormal, 0, size};
        attributes[Key(path)] = kAttributeNormal;
    }
    void Game(const std::u16string& folder, const std::string& steamInf) {
        Folder(folder);
        for (const char16_t* name :
             {u"Morvanta.exe", u"csgo.exe", u"bin\\morvanta_gc.dll", u"bin\\engine.dll",
              u"csgo\\bin\\client.dll", u"csgo\\pak01_dir.vpk",
              u"csgo\\resource\\flash\\mainmenu.swf"})
            File(folder + u"\\" + name, 1000);
        File(folder + u"\\csgo\\steam.inf", steamInf.size());
        heads[Key(folder + u"\\csgo\\steam.inf")] = steamInf;
    }
};

FixedMachine* g_machine = nullptr;

uint32_t DriveType(const std::u16string& root) {
    if (root.empty()) return kDriveNoRootDir;
    switch (root[0]) {
        case u'C':
        case u'D':
            return kDriveFixed;
        case u'Q':
            return kDriveRemote;
        default:
            return kDriveNoRootDir;
    }
}
PathAttributes Attributes(const std::u16string& path) {
    const auto it = g_machine->attributes.find(FixedMachine::Key(path));
    if (it == g_machine->attributes.end()) return {kInvalidFileAttributes, kErrorFileNotFound};
    return {it->second, 0};
}
PathStatus Status(const std::u16string& path) {
    const auto it = g_machine->entries.find(FixedMachine::Key(path));
    return it == g_machine->entries.end() ? PathStatus{} : it->second;
}
uint32_t LogicalDrives() {
    return (1u << 2) | (1u << 3) | (1u << 16);
}
std::optional<std::string> ReadHead(const std::u16string& path, size_t maxBytes) {
    const auto it = g_machine->heads.find(FixedMachine::Key(path));
    if (it == g_machine->heads.end()) return std::nullopt;
    return it->second.substr(0, maxBytes);
}
std::u16string NoOwnPath() {
    return {};
}

struct Setup {
    FixedMachine machine;
    LauncherConfig detected;  // the complete game in D:\Games\Morvanta
    LauncherConfig nothing;   // a detected folder without a game
    Setup() {
        machine.Game(u"D:\\Games\\Morvanta", "ClientVersion=2000\nPatchVersion=1.36.3.4\n");
        machine.Game(u"C:\\Games\\Old", "PatchVersion=1.38.8.1\n");
        machine.Folder(u"C:\\Games");
        machine.Folder(u"C:\\Games\\Plausible");
        machine.File(u"C:\\Games\\Plausible\\csgo.exe", 0);
        machine.Folder(u"C:\\Games\\Empty");
        machine.attributes[FixedMachine::Key(u"C:\\Link")] =
            kAttributeDirectory | kAttributeReparsePoint;
        machine.entries[FixedMachine::Key(u"C:\\Link")] =
            PathStatus{true, kAttributeDirectory, 0, 0};
        g_machine = &machine;
        g_driveType = &DriveType;
        g_pathAttributes = &Attributes;
        g_pathStatus = &Status;
        g_logicalDrives = &LogicalDrives;
        g_readFileHead = &ReadHead;
        g_ownExecutablePath = &NoOwnPath;
        detected = DefaultLauncherConfig();
        nothing = detected;
        nothing.game_dir = "C:\\Games\\Empty";
        if (detected.game_dir != "D:\\Games\\Morvanta") {
            std::fprintf(stderr, "the fixed machine's game was not detected\n");
            __builtin_trap();
        }
    }
};

bool IsOneOf(const std::string& value, std::initializer_list<const char*> allowed) {
    for (const char* option : allowed)
        if (value == option) return true;
    return false;
}

std::optional<LauncherConfigMerge> Merge(std::string_view text, const LauncherConfig& defaults) {
    try {
        return MergeLauncherConfigText(text, defaults);
    } catch (...) {
        FUZZ_PROPERTY(false, "no exception leaves the settings merge");
    }
    return std::nullopt;
}

void CheckMerge(std::string_view text, const LauncherConfig& defaults) {
    const std::optional<LauncherConfigMerge> merge = Merge(text, defaults);
    if (!merge) return;
    FUZZ_PROPERTY(nlohmann::json::accept(text, false),
                  "bytes that are not one JSON value are never merged");
    const LauncherConfig& c = merge->config;

    FUZZ_PROPERTY(c.config_version >= kCurrentConfigVersion, "the version is at least current");
    FUZZ_PROPERTY(IsOneOf(c.lang, {"ru", "en"}), "a known language");
    FUZZ_PROPERTY(IsOneOf(c.presence_mode, {"online", "away", "invisible", "offline"}),
                  "a known presence mode");
    FUZZ_PROPERTY(c.installed_game_build >= 1, "an installed game build of at least 1");
    FUZZ_PROPERTY(c.game_dir == defaults.game_dir || IsAcceptableLocalFolder(c.game_dir, false),
                  "the game folder is the detected one or passes the folder rules");
    FUZZ_PROPERTY(NormalizeWebBaseUrl(c.web_base_url) == c.web_base_url,
                  "the base URL is stored normalised");
    const auto url = ParseHttpUrl(c.web_base_url);
    FUZZ_PROPERTY(url && (url->scheme == "https" || IsLoopbackHost(url->host)),
                  "the base URL is never clear text to another machine");

    // What the load would write, read back: the same record, and nothing more to write.
    const std::string written = LauncherConfigToJson(c).dump(2);
    const std::optional<LauncherConfigMerge> again = Merge(written, defaults);
    FUZZ_PROPERTY(again.has_value(), "the written text reads back");
    FUZZ_PROPERTY(again->config == c, "the written text reads back to the same record");
    FUZZ_PROPERTY(!again->rewrite, "the written text is not written again");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const Setup setup;
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    // Half the inputs (by length) see the complete game detected, half a detected folder without
    // one: both repair paths, at the cost of one merge per input.
    CheckMerge(text, size % 2 ? setup.detected : setup.nothing);
    return 0;
}
