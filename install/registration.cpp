#include "install/registration.h"

#include "common/files.h"
#include "common/path.h"
#include "common/text.h"
#include "game/local_folder.h"
#include "install/install_worker.h"

namespace {

std::vector<std::uint8_t> TextBytes(std::u16string_view text) {
    std::vector<std::uint8_t> bytes;
    bytes.reserve((text.size() + 1) * 2);
    for (char16_t unit : text) {
        bytes.push_back(static_cast<std::uint8_t>(unit & 0xFF));
        bytes.push_back(static_cast<std::uint8_t>(unit >> 8));
    }
    // The terminating zero is part of what is stored: readers that trust the byte count alone
    // still see a terminated text.
    bytes.push_back(0);
    bytes.push_back(0);
    return bytes;
}

std::vector<std::uint8_t> DwordBytes(std::uint32_t value) {
    return {static_cast<std::uint8_t>(value), static_cast<std::uint8_t>(value >> 8),
            static_cast<std::uint8_t>(value >> 16), static_cast<std::uint8_t>(value >> 24)};
}

RegistryWrite Text(std::u16string_view key, std::u16string_view name, std::u16string_view text) {
    return {std::u16string(key), std::u16string(name), kRegSz, TextBytes(text)};
}

RegistryWrite Dword(std::u16string_view key, std::u16string_view name, std::uint32_t value) {
    return {std::u16string(key), std::u16string(name), kRegDword, DwordBytes(value)};
}

std::u16string Quoted(std::u16string_view text) {
    return u"\"" + std::u16string(text) + u"\"";
}

}  // namespace

std::uint32_t EstimatedSizeKiB(std::uint64_t downloadBytes) {
    const std::uint64_t kib = downloadBytes / 1024;
    if (kib < 1024) return 1024;
    // A DWORD cannot hold more; no real download comes near 4 TiB.
    if (kib > 0xFFFFFFFFull) return 0xFFFFFFFFu;
    return static_cast<std::uint32_t>(kib);
}

std::vector<RegistryWrite> BuildRegistrationWrites(std::u16string_view installFolder,
                                                   std::u16string_view clientExePath,
                                                   std::u16string_view uninstallerPath,
                                                   std::string_view versionUtf8,
                                                   std::uint64_t downloadBytes) {
    const std::u16string version = versionUtf8.empty() ? u"1.0.1" : Utf8ToUtf16(versionUtf8);
    const std::u16string icon = std::u16string(clientExePath) + u",0";
    const std::u16string protocolIconKey = JoinPath(kUrlProtocolKey, u"DefaultIcon");
    const std::u16string protocolCommandKey = JoinPath(kUrlProtocolKey, u"shell\\open\\command");
    const auto& entry = kUninstallEntryKey;
    const std::u16string uninstall = Quoted(uninstallerPath) + u" --uninstall";
    return {
        Text(entry, u"DisplayName", u"Varnok Client"),
        Text(entry, u"Publisher", u"Dravolt"),
        Text(entry, u"DisplayVersion", version),
        Text(entry, u"DisplayIcon", icon),
        Text(entry, u"InstallLocation", installFolder),
        Text(entry, u"UninstallString", uninstall),
        // What winget and other deployment tools run to remove the client without a person.
        Text(entry, u"QuietUninstallString", uninstall + u" --silent"),
        Dword(entry, u"NoModify", 1),
        Dword(entry, u"NoRepair", 1),
        Dword(entry, u"EstimatedSize", EstimatedSizeKiB(downloadBytes)),
        Text(kUrlProtocolKey, u"", u"URL:Varnok Client Protocol"),
        Text(kUrlProtocolKey, u"URL Protocol", u""),
        Text(protocolIconKey, u"", icon),
        Text(protocolCommandKey, u"", Quoted(clientExePath) + u" \"%1\""),
    };
}

void RegisterClient(std::u16string_view installFolder, std::u16string_view clientExePath,
                    std::u16string_view uninstallerPath, std::string_view versionUtf8,
                    std::uint64_t downloadBytes) {
    for (const RegistryWrite& write : BuildRegistrationWrites(
             installFolder, clientExePath, uninstallerPath, versionUtf8, downloadBytes)) {
        // Best effort: a value that cannot be written must not keep the others from being written.
        g_writeRegistryValue(write);
    }
}

std::optional<std::u16string> RegisteredInstallLocation() {
    std::optional<std::u16string> location =
        g_readRegistryText(kUninstallEntryKey, u"InstallLocation");
    if (location && location->empty()) return std::nullopt;
    return location;
}

std::optional<std::u16string> RegisteredInstallFolder() {
    std::optional<std::u16string> folder = RegisteredInstallLocation();
    if (!folder || !IsAcceptableLocalFolder(Utf16ToUtf8(*folder), true)) return std::nullopt;
    if (!OpenFileForReading(JoinPath(*folder, kClientExeName))) return std::nullopt;
    return folder;
}
