// Without a registry or shell links, the same data goes to plain files that stand in for them.
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <system_error>

#include "common/text.h"
#include "install/registration.h"

namespace fs = std::filesystem;

namespace {

fs::path DefaultStandInRoot() {
    const char* home = std::getenv("HOME");
    if (home == nullptr || *home == '\0') return {};
    return fs::path(home) / ".local" / "share" / "VarnokClient" / "registry" / "HKEY_CURRENT_USER";
}

// Key parts are separated by backslashes, as on Windows.
fs::path KeyFolder(const fs::path& root, std::u16string_view key) {
    fs::path folder = root;
    size_t start = 0;
    while (start <= key.size()) {
        const size_t end = std::min(key.find(u'\\', start), key.size());
        if (end > start) folder /= Utf16ToUtf8(key.substr(start, end - start));
        start = end + 1;
    }
    return folder;
}

bool WriteBytes(const fs::path& file, const std::string& bytes) {
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(out.flush());
}

bool WriteRegistryValueToFiles(const RegistryWrite& write) {
    const fs::path root = g_standInRegistryRoot();
    if (root.empty()) return false;
    const fs::path folder = KeyFolder(root, write.key);
    std::error_code error;
    fs::create_directories(folder, error);
    if (error || !fs::is_directory(folder, error)) return false;
    std::string bytes;
    for (int shift = 0; shift < 32; shift += 8)
        bytes.push_back(static_cast<char>((write.type >> shift) & 0xFF));
    bytes.append(write.data.begin(), write.data.end());
    return WriteBytes(folder / (write.name.empty() ? std::string("@") : Utf16ToUtf8(write.name)),
                      bytes);
}

std::optional<std::u16string> ReadRegistryTextFromFiles(std::u16string_view key,
                                                        std::u16string_view name) {
    const fs::path root = g_standInRegistryRoot();
    if (root.empty()) return std::nullopt;
    std::ifstream in(KeyFolder(root, key) / (name.empty() ? std::string("@") : Utf16ToUtf8(name)),
                     std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (bytes.size() < 4 || bytes[0] != static_cast<char>(kRegSz) || bytes[1] || bytes[2] ||
        bytes[3])
        return std::nullopt;
    std::u16string text;
    for (size_t i = 4; i + 1 < bytes.size(); i += 2) {
        const char16_t unit = static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) |
                                                    static_cast<unsigned char>(bytes[i + 1]) << 8);
        if (unit == 0) break;
        text.push_back(unit);
    }
    return text;
}

}  // namespace

RegistryTextReader g_readRegistryText = &ReadRegistryTextFromFiles;
StandInRegistryRootFn g_standInRegistryRoot = &DefaultStandInRoot;
RegistryValueWriter g_writeRegistryValue = &WriteRegistryValueToFiles;

// A freedesktop-style entry carries the same four properties a shell link does.
bool CreateShortcut(std::u16string_view shortcutPath, std::u16string_view targetPath,
                    std::u16string_view workingFolder, std::u16string_view description) {
    const fs::path file(Utf16ToUtf8(shortcutPath));
    std::error_code ignored;
    if (file.has_parent_path()) fs::create_directories(file.parent_path(), ignored);
    const std::string target = Utf16ToUtf8(targetPath);
    const std::string entry =
        "[Desktop Entry]\nType=Application\nName=" + Utf16ToUtf8(description) + "\nExec=\"" +
        target + "\"\nPath=" + Utf16ToUtf8(workingFolder) + "\nIcon=" + target + "\n";
    if (WriteBytes(file, entry)) return true;
    // The save failed part-way or never started: leave no file behind.
    fs::remove(file, ignored);
    return false;
}
