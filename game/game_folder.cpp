#include "game/game_folder.h"

#include <array>

#include "common/own_path.h"
#include "common/path.h"
#include "common/text.h"
#include "game/file_queries.h"
#include "game/local_folder.h"
#include "game/windows_path.h"

namespace {

constexpr std::array<std::string_view, 3> kCandidateSuffixes{":\\Games\\Morvanta", ":\\Morvanta",
                                                             ":\\Games\\Korrindale"};

constexpr std::array<std::u16string_view, 7> kRequiredFiles{
    u"Morvanta.exe",
    u"csgo.exe",
    u"bin\\morvanta_gc.dll",
    u"bin\\engine.dll",
    u"csgo\\bin\\client.dll",
    u"csgo\\pak01_dir.vpk",
    u"csgo\\resource\\flash\\mainmenu.swf",
};

constexpr std::u16string_view kVersionFile = u"csgo\\steam.inf";
constexpr std::string_view kPatchVersionKey = "PatchVersion=";
constexpr size_t kVersionBytesExamined = 1024;

bool IsRegularFile(const PathStatus& status) {
    return status.ok && (status.attributes & kAttributeDirectory) == 0 && !StatusIsLink(status);
}

bool IsRegularFileAt(std::u16string_view folder, std::u16string_view name) {
    return IsRegularFile(g_pathStatus(JoinPath(folder, name)));
}

bool IsPureAscii(std::string_view text) {
    for (char c : text)
        if (static_cast<unsigned char>(c) >= 0x80) return false;
    return true;
}

// The version test passes when steam.inf cannot be read or names no PatchVersion in its first
// bytes; a PatchVersion that is there must start with the expected prefix.
bool HasExpectedPatchVersion(std::u16string_view folder) {
    if (!HasNonEmptyFile(folder, kVersionFile)) return true;
    const auto head = g_readFileHead(JoinPath(folder, kVersionFile), kVersionBytesExamined);
    if (!head || head->size() < kPatchVersionKey.size()) return true;
    const size_t at = head->find(kPatchVersionKey);
    if (at == std::string::npos) return true;
    return std::string_view(*head).substr(at + kPatchVersionKey.size(), GamePatchPrefix.size()) ==
           GamePatchPrefix;
}

}  // namespace

bool HasGameExecutable(std::string_view folder) {
    if (!IsPureAscii(folder)) return false;
    const std::u16string path = Utf8ToUtf16(folder);
    return IsRegularFileAt(path, u"Morvanta.exe") || IsRegularFileAt(path, u"csgo.exe");
}

std::string DetectGameFolder() {
    const std::u16string own = g_ownExecutablePath();
    if (!own.empty()) {
        const std::string ownFolder = Utf16ToUtf8(WindowsParentPath(own));
        if (HasGameExecutable(ownFolder)) return ownFolder;
    }

    std::string letters = "DC";
    const uint32_t drives = g_logicalDrives();
    for (int bit = 0; bit < 26; ++bit) {
        const char letter = static_cast<char>('A' + bit);
        if (letter != 'C' && letter != 'D' && (drives & (1u << bit))) letters.push_back(letter);
    }
    for (char letter : letters) {
        const std::u16string root{static_cast<char16_t>(letter), u':', u'\\'};
        if (g_driveType(root) != kDriveFixed) continue;
        for (std::string_view suffix : kCandidateSuffixes) {
            std::string candidate(1, letter);
            candidate.append(suffix);
            if (HasGameExecutable(candidate)) return candidate;
        }
    }
    return g_driveType(u"D:\\") == kDriveFixed ? "D:\\Games\\Morvanta" : "C:\\Games\\Morvanta";
}

bool HasNonEmptyFile(std::u16string_view folder, std::u16string_view name) {
    const PathStatus status = g_pathStatus(JoinPath(folder, name));
    return IsRegularFile(status) && status.size > 0;
}

bool IsCompleteGameFolder(std::string_view folder) {
    if (!IsAcceptableLocalFolder(folder, true)) return false;
    const std::u16string path = Utf8ToUtf16(folder);
    for (std::u16string_view name : kRequiredFiles)
        if (!HasNonEmptyFile(path, name)) return false;
    return HasExpectedPatchVersion(path);
}

bool IsPlausibleGameFolder(std::string_view folder) {
    if (!IsAcceptableLocalFolder(folder, true)) return false;
    const std::u16string path = Utf8ToUtf16(folder);
    return IsRegularFileAt(path, u"csgo.exe") || IsRegularFileAt(path, u"Morvanta.exe") ||
           IsRegularFileAt(path, u"csgo\\pak01_dir.vpk");
}
