#include <windows.h>

#include "common/handles_win.h"
#include "common/text.h"
#include "tests/game/real_folders.h"

std::string FolderText(const std::filesystem::path& path) {
    return Utf16ToUtf8(std::u16string(path.u16string()));
}

namespace {

// Wine's own export that names the Linux file behind a Windows path (freed from the process heap).
std::string UnixFileName(const std::filesystem::path& path) {
    using Fn = char*(__cdecl*)(const wchar_t*);
    const FARPROC proc =
        GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name");
    const auto fn = reinterpret_cast<Fn>(reinterpret_cast<void*>(proc));
    if (fn == nullptr) return {};
    char* name = fn(path.c_str());
    if (name == nullptr) return {};
    std::string out = name;
    HeapFree(GetProcessHeap(), 0, name);
    return out;
}

}  // namespace

bool MakeDirectoryLink(const std::filesystem::path& link, const std::string& targetName,
                       std::string& reason) {
    const std::wstring target(targetName.begin(), targetName.end());
    const DWORD flags = SYMBOLIC_LINK_FLAG_DIRECTORY | 0x2 /* allow unprivileged create */;
    if (CreateSymbolicLinkW(link.c_str(), target.c_str(), flags) &&
        GetFileAttributesW(link.c_str()) != INVALID_FILE_ATTRIBUTES)
        return true;
    // Wine answers TRUE and makes nothing; there a Linux link made by ln stands in for a junction.
    const std::string unixLink = UnixFileName(link);
    if (unixLink.empty()) {
        reason = "CreateSymbolicLinkW failed (needs developer mode or elevation)";
        return false;
    }
    const std::u16string unixLink16 = Utf8ToUtf16(unixLink);
    std::wstring command = L"Z:\\bin\\ln -s " + target + L" \"";
    command.append(unixLink16.begin(), unixLink16.end());
    command += L"\"";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info{};
    if (!CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &info)) {
        reason = "could not run /bin/ln under Wine";
        return false;
    }
    UniqueHandleKernel process(info.hProcess);
    UniqueHandleKernel thread(info.hThread);
    WaitForSingleObject(process.get(), 10000);
    // Wine may signal the handle of a Linux process before the process has run: wait for the link.
    for (int i = 0; i < 500 && GetFileAttributesW(link.c_str()) == INVALID_FILE_ATTRIBUTES; ++i)
        Sleep(10);
    if (GetFileAttributesW(link.c_str()) == INVALID_FILE_ATTRIBUTES) {
        reason = "/bin/ln made no link";
        return false;
    }
    return true;
}
