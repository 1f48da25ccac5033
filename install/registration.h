// Making the installed client known to the current user's system: the entry in the list of
// installed programs, the morvanta URL protocol, and shell shortcuts. Everything lives below
// HKEY_CURRENT_USER and in the user's own folders, so nothing needs administrator rights.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// Registry keys below HKEY_CURRENT_USER; the uninstaller removes exactly these two trees.
inline constexpr std::u16string_view kUninstallEntryKey =
    u"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\VarnokClient";
inline constexpr std::u16string_view kUrlProtocolKey = u"Software\\Classes\\morvanta";

// The registry value types we write, with their Windows numbers.
inline constexpr std::uint32_t kRegSz = 1;
inline constexpr std::uint32_t kRegDword = 4;

// One value to write: the key below HKEY_CURRENT_USER, the value name (empty for the key's
// unnamed default value), the type, and the exact bytes stored (a text in UTF-16LE with its
// terminating zero, a number as 4 little-endian bytes).
struct RegistryWrite {
    std::u16string key;
    std::u16string name;
    std::uint32_t type = kRegSz;
    std::vector<std::uint8_t> data;
};

// Download size in KiB, rounded down, never below 1024: the system shows it as the program size.
std::uint32_t EstimatedSizeKiB(std::uint64_t downloadBytes);

// Every value of the uninstall entry and the URL protocol, in the order they are written.
std::vector<RegistryWrite> BuildRegistrationWrites(std::u16string_view installFolder,
                                                   std::u16string_view clientExePath,
                                                   std::u16string_view uninstallerPath,
                                                   std::string_view versionUtf8,
                                                   std::uint64_t downloadBytes);

// Writes one value, creating its key and missing parents; true when the value was stored.
using RegistryValueWriter = bool (*)(const RegistryWrite& write);
extern RegistryValueWriter g_writeRegistryValue;

// Writes every value of BuildRegistrationWrites, each on its own: a value that cannot be written
// is missing afterwards and the rest are still written. Reports nothing.
void RegisterClient(std::u16string_view installFolder, std::u16string_view clientExePath,
                    std::u16string_view uninstallerPath, std::string_view versionUtf8,
                    std::uint64_t downloadBytes);

// Reads one text value below HKEY_CURRENT_USER (empty `name`: the key's default value); nothing
// when the key or the value is missing or holds no text. Replaceable, so tests can give answers.
using RegistryTextReader = std::optional<std::u16string> (*)(std::u16string_view key,
                                                             std::u16string_view name);
extern RegistryTextReader g_readRegistryText;

// The InstallLocation of the registered install, as the uninstall entry holds it.
std::optional<std::u16string> RegisteredInstallLocation();

// The registered folder when an install may go on in it: a local folder by the usual rules that
// holds the client. An upgrade without a folder given goes there, not to a second copy.
std::optional<std::u16string> RegisteredInstallFolder();

// Saves a shortcut to `targetPath` (working folder, description, icon = target at index 0) at
// `shortcutPath`, creating the folder that holds it first and overwriting an existing file.
// True when the file was saved. On Windows the calling thread has initialised COM (STA).
bool CreateShortcut(std::u16string_view shortcutPath, std::u16string_view targetPath,
                    std::u16string_view workingFolder, std::u16string_view description);

#ifndef _WIN32
#include <filesystem>

// Systems without a registry keep the same values as files: <root>/<key parts>/<value name>
// ("@" for the default value), holding the 4-byte little-endian type followed by the data.
// The default root is $HOME/.local/share/VarnokClient/registry/HKEY_CURRENT_USER.
using StandInRegistryRootFn = std::filesystem::path (*)();
extern StandInRegistryRootFn g_standInRegistryRoot;
#endif
