#include <windows.h>

#include "common/handles_win.h"
#include "common/text_win.h"
#include "install/registration.h"
#include "tests/install/stored_value.h"

std::optional<StoredValue> ReadStoredValue(std::u16string_view key, std::u16string_view name) {
    UniqueRegKey handle;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, Wz(std::u16string(key)), 0, KEY_READ, handle.put()) !=
        ERROR_SUCCESS)
        return std::nullopt;
    const std::u16string valueName(name);
    const wchar_t* namePtr = valueName.empty() ? nullptr : Wz(valueName);
    DWORD type = 0, size = 0;
    if (RegQueryValueExW(handle.get(), namePtr, nullptr, &type, nullptr, &size) != ERROR_SUCCESS)
        return std::nullopt;
    StoredValue value{type, std::vector<std::uint8_t>(size)};
    if (RegQueryValueExW(handle.get(), namePtr, nullptr, &type, value.data.data(), &size) !=
        ERROR_SUCCESS)
        return std::nullopt;
    value.data.resize(size);
    return value;
}

void DeleteRegistrationTrees() {
    RegDeleteTreeW(HKEY_CURRENT_USER, Wz(std::u16string(kUninstallEntryKey)));
    RegDeleteTreeW(HKEY_CURRENT_USER, Wz(std::u16string(kUrlProtocolKey)));
}
