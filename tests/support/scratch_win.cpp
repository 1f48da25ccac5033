#include <windows.h>
#include <aclapi.h>
#include <sddl.h>

#include "tests/support/scratch.h"

// The library's remove_all descends into junctions (and, under Wine, into Linux directory links),
// which would delete what they point at. This walk removes a reparse point as itself.
void RemoveTreeNoFollow(const std::filesystem::path& root) {
    const std::wstring path = root.wstring();
    const DWORD attrs = GetFileAttributesW(path.c_str());
    if (attrs == INVALID_FILE_ATTRIBUTES) return;
    if (attrs & FILE_ATTRIBUTE_READONLY)
        SetFileAttributesW(path.c_str(), attrs & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY));
    if (!(attrs & FILE_ATTRIBUTE_DIRECTORY)) {
        DeleteFileW(path.c_str());
        return;
    }
    if (attrs & FILE_ATTRIBUTE_REPARSE_POINT) {
        if (!RemoveDirectoryW(path.c_str())) DeleteFileW(path.c_str());
        return;
    }
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileW((path + L"\\*").c_str(), &data);
    if (find != INVALID_HANDLE_VALUE) {
        do {
            const std::wstring name = data.cFileName;
            if (name == L"." || name == L"..") continue;
            RemoveTreeNoFollow(root / name);
        } while (FindNextFileW(find, &data));
        FindClose(find);
    }
    RemoveDirectoryW(path.c_str());
}

bool RunningUnderWine() {
    return GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr;
}

std::string FolderAccess(const std::filesystem::path& folder) {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (GetNamedSecurityInfoW(folder.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr,
                              nullptr, nullptr, nullptr, &descriptor) != ERROR_SUCCESS)
        return "unreadable";
    wchar_t* text = nullptr;
    ConvertSecurityDescriptorToStringSecurityDescriptorW(descriptor, SDDL_REVISION_1,
                                                         DACL_SECURITY_INFORMATION, &text, nullptr);
    LocalFree(descriptor);
    const std::string sddl = text ? std::filesystem::path(text).string() : "unconvertible";
    LocalFree(text);
    return sddl;
}
