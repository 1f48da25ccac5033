#include <windows.h>
#include <shlobj.h>
#include <shobjidl.h>

#include "common/files.h"
#include "common/handles_win.h"
#include "common/text_win.h"
#include "game/windows_path.h"
#include "install/registration.h"

namespace {

bool WriteRegistryValueToSystem(const RegistryWrite& write) {
    UniqueRegKey key;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, Wz(write.key), 0, nullptr, REG_OPTION_NON_VOLATILE,
                        KEY_WRITE, nullptr, key.put(), nullptr) != ERROR_SUCCESS)
        return false;
    // A null name addresses the key's unnamed default value.
    const wchar_t* name = write.name.empty() ? nullptr : Wz(write.name);
    return RegSetValueExW(key.get(), name, 0, write.type, write.data.data(),
                          static_cast<DWORD>(write.data.size())) == ERROR_SUCCESS;
}

std::optional<std::u16string> ReadRegistryTextFromSystem(std::u16string_view key,
                                                         std::u16string_view name) {
    const std::u16string keyText(key), nameText(name);
    const wchar_t* value = nameText.empty() ? nullptr : Wz(nameText);
    // Two calls: the size, then the text; RRF_RT_REG_SZ refuses any other type, and the
    // function terminates what it returns.
    DWORD size = 0;
    if (RegGetValueW(HKEY_CURRENT_USER, Wz(keyText), value, RRF_RT_REG_SZ, nullptr, nullptr,
                     &size) != ERROR_SUCCESS ||
        size < sizeof(wchar_t))
        return std::nullopt;
    std::wstring text(size / sizeof(wchar_t), L'\0');
    if (RegGetValueW(HKEY_CURRENT_USER, Wz(keyText), value, RRF_RT_REG_SZ, nullptr, text.data(),
                     &size) != ERROR_SUCCESS)
        return std::nullopt;
    text.resize(wcsnlen(text.data(), size / sizeof(wchar_t)));
    return FromWide(text);
}

}  // namespace

RegistryValueWriter g_writeRegistryValue = &WriteRegistryValueToSystem;
RegistryTextReader g_readRegistryText = &ReadRegistryTextFromSystem;

bool CreateShortcut(std::u16string_view shortcutPath, std::u16string_view targetPath,
                    std::u16string_view workingFolder, std::u16string_view description) {
    const std::u16string shortcut(shortcutPath), target(targetPath), folder(workingFolder),
        text(description);
    // A failure here is left to the save, which then fails.
    uint32_t ignored = 0;
    const std::u16string parent = WindowsParentPath(shortcut);
    if (!parent.empty()) CreateFolderTree(parent, ignored);

    ComPtr<IShellLinkW> link;
    if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                reinterpret_cast<void**>(link.put()))))
        return false;
    link->SetPath(Wz(target));
    link->SetWorkingDirectory(Wz(folder));
    link->SetDescription(Wz(text));
    link->SetIconLocation(Wz(target), 0);

    ComPtr<IPersistFile> file;
    if (FAILED(link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(file.put()))))
        return false;
    return SUCCEEDED(file->Save(Wz(shortcut), TRUE));
}
