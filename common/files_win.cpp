#include "common/files.h"

#include <windows.h>
#include <aclapi.h>
#include <sddl.h>

#include <algorithm>
#include <vector>

#include "common/handles_win.h"
#include "common/text_win.h"

namespace {

bool IsSeparator(char16_t c) {
    return c == u'\\' || c == u'/';
}

// How much of the path names a root that exists by itself and is never created: "C:\",
// "\\server\share\", or the same behind the "\\?\" prefix.
size_t RootLength(std::u16string_view path) {
    size_t start = 0;
    if (path.size() >= 4 && IsSeparator(path[0]) && IsSeparator(path[1]) && path[2] == u'?' &&
        IsSeparator(path[3])) {
        start = 4;
        if (path.substr(start, 4) == u"UNC\\")
            start += 4;  // \\?\UNC\server\share
        else if (path.size() >= start + 2 && path[start + 1] == u':')
            return std::min(path.size(), start + 3);
    } else if (path.size() >= 2 && path[1] == u':') {
        return std::min<size_t>(path.size(), 3);
    } else if (path.size() >= 2 && IsSeparator(path[0]) && IsSeparator(path[1])) {
        start = 2;
    } else {
        return 0;
    }
    // A share root: server, then share, each followed by a separator.
    size_t pos = start;
    for (int parts = 0; parts < 2 && pos < path.size(); ++parts) {
        while (pos < path.size() && !IsSeparator(path[pos])) ++pos;
        if (pos < path.size()) ++pos;
    }
    return pos;
}

bool IsFolder(const std::u16string& path) {
    const DWORD attributes = GetFileAttributesW(Wz(path));
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// The current user's SID as text ("S-1-5-21-..."), or empty when the token cannot be read.
std::u16string CurrentUserSid() {
    UniqueHandleKernel token;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.put())) return {};
    DWORD size = 0;
    GetTokenInformation(token.get(), TokenUser, nullptr, 0, &size);
    std::vector<unsigned char> buffer(size);
    if (size == 0 || !GetTokenInformation(token.get(), TokenUser, buffer.data(), size, &size))
        return {};
    wchar_t* text = nullptr;
    if (!ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid, &text))
        return {};
    const UniqueLocalMemory owned(text);
    return FromWide(text);
}

// A protected list (P: nothing inherited from the parent) granting full control, passed on to
// every file and folder inside (OICI), to the user, SYSTEM and the Administrators group.
UniqueLocalMemory PrivateFolderDescriptor(uint32_t& error) {
    const std::u16string user = CurrentUserSid();
    if (user.empty()) {
        error = GetLastError();
        return {};
    }
    const std::u16string sddl = u"D:P(A;OICI;FA;;;" + user + u")(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)";
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(Wz(sddl), SDDL_REVISION_1,
                                                              &descriptor, nullptr)) {
        error = GetLastError();
        return {};
    }
    return UniqueLocalMemory(descriptor);
}

// The folder itself, never what a link in its place leads to.
UniqueFile OpenFolder(const std::u16string& path, DWORD access) {
    return UniqueFile(CreateFileW(
        Wz(path), access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
        OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
}

std::u16string ChildPath(const std::u16string& folder, const wchar_t* name) {
    std::u16string child = folder;
    if (!child.empty() && !IsSeparator(child.back())) child.push_back(u'\\');
    child += FromWide(name);
    return child;
}

// TrustedInstaller, the account Windows' own servicing owns its files with.
constexpr char16_t kTrustedInstallerSid[] =
    u"S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464";

// The owner of an open file or folder, sorted as far as trusting it goes; `sid` gets its text.
FolderOwnerAnswer OwnerOfHandle(HANDLE handle, const std::u16string& user, std::u16string* sid) {
    FolderOwnerAnswer answer;
    PSID owner = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    const DWORD status = GetSecurityInfo(handle, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner,
                                         nullptr, nullptr, nullptr, &descriptor);
    const UniqueLocalMemory ownedDescriptor(descriptor);
    wchar_t* ownerText = nullptr;
    if (status != ERROR_SUCCESS || owner == nullptr || !ConvertSidToStringSidW(owner, &ownerText)) {
        answer.error = status != ERROR_SUCCESS ? status
                       : owner == nullptr      ? ERROR_INVALID_SECURITY_DESCR
                                               : GetLastError();
        return answer;
    }
    const UniqueLocalMemory ownedText(ownerText);
    answer.ok = true;
    if (sid) *sid = FromWide(ownerText);
    if (FromWide(ownerText) == user)
        answer.owner = FolderOwner::CurrentUser;
    else if (IsWellKnownSid(owner, WinLocalSystemSid))
        answer.owner = FolderOwner::System;
    else if (IsWellKnownSid(owner, WinBuiltinAdministratorsSid))
        answer.owner = FolderOwner::Administrators;
    return answer;
}

FolderOwnerAnswer SystemFolderOwner(const std::u16string& folder) {
    FolderOwnerAnswer answer;
    const UniqueFile handle = OpenFolder(folder, READ_CONTROL);
    DWORD volumeFlags = 0;
    if (!handle || !GetVolumeInformationByHandleW(handle.get(), nullptr, 0, nullptr, nullptr,
                                                  &volumeFlags, nullptr, 0)) {
        answer.error = GetLastError();
        return answer;
    }
    if (!(volumeFlags & FILE_PERSISTENT_ACLS)) {
        answer.ok = true;
        answer.owner = FolderOwner::NoOwners;
        return answer;
    }
    const std::u16string user = CurrentUserSid();
    if (user.empty()) {
        answer.error = GetLastError();
        return answer;
    }
    return OwnerOfHandle(handle.get(), user, nullptr);
}

// Rights that let their holder put a file into a folder, or take or replace one in it.
constexpr DWORD kWriteOrDeleteRights = FILE_ADD_FILE | FILE_ADD_SUBDIRECTORY | FILE_DELETE_CHILD |
                                       DELETE | WRITE_DAC | WRITE_OWNER | GENERIC_WRITE |
                                       GENERIC_ALL;

FolderCheckAnswer SystemFolderWritableByOthers(const std::u16string& folder) {
    FolderCheckAnswer answer;
    const UniqueFile handle = OpenFolder(folder, READ_CONTROL);
    PACL list = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    const DWORD status =
        handle ? GetSecurityInfo(handle.get(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr,
                                 nullptr, &list, nullptr, &descriptor)
               : GetLastError();
    const UniqueLocalMemory ownedDescriptor(descriptor);
    const std::u16string user = CurrentUserSid();
    if (status != ERROR_SUCCESS || user.empty()) {
        answer.error = status != ERROR_SUCCESS ? status : GetLastError();
        return answer;
    }
    answer.ok = true;
    if (list == nullptr) {  // no list at all: everyone may do everything
        answer.found = true;
        return answer;
    }
    for (DWORD i = 0; i < list->AceCount; ++i) {
        void* ace = nullptr;
        if (!GetAce(list, i, &ace)) continue;
        const auto* header = static_cast<const ACE_HEADER*>(ace);
        // Entries only passed on to what is made inside grant nothing on the folder itself.
        if (header->AceType != ACCESS_ALLOWED_ACE_TYPE || (header->AceFlags & INHERIT_ONLY_ACE))
            continue;
        const auto* allowed = static_cast<const ACCESS_ALLOWED_ACE*>(ace);
        if (!(allowed->Mask & kWriteOrDeleteRights)) continue;
        const PSID sid = const_cast<DWORD*>(&allowed->SidStart);
        wchar_t* text = nullptr;
        if (!ConvertSidToStringSidW(sid, &text)) continue;
        const UniqueLocalMemory ownedText(text);
        // OWNER RIGHTS stands for the owner, who is SYSTEM or Administrators here.
        if (FromWide(text) == user || IsWellKnownSid(sid, WinLocalSystemSid) ||
            IsWellKnownSid(sid, WinBuiltinAdministratorsSid) ||
            IsWellKnownSid(sid, WinCreatorOwnerRightsSid) || FromWide(text) == kTrustedInstallerSid)
            continue;
        answer.found = true;
        return answer;
    }
    return answer;
}

FolderCheckAnswer SystemFolderHoldsOthersEntry(const std::u16string& folder) {
    FolderCheckAnswer answer;
    const std::u16string user = CurrentUserSid();
    if (user.empty()) {
        answer.error = GetLastError();
        return answer;
    }
    WIN32_FIND_DATAW entry;
    UniqueFind find(FindFirstFileW(Wz(ChildPath(folder, L"*")), &entry));
    if (!find) {
        answer.error = GetLastError();
        return answer;
    }
    do {
        const std::wstring_view name = entry.cFileName;
        if (name == L"." || name == L"..") continue;
        const std::u16string path = ChildPath(folder, entry.cFileName);
        const UniqueFile handle = OpenFolder(path, READ_CONTROL);
        if (!handle) {
            answer.error = GetLastError();
            return answer;
        }
        std::u16string sid;
        const FolderOwnerAnswer owner = OwnerOfHandle(handle.get(), user, &sid);
        if (!owner.ok) {
            answer.error = owner.error;
            return answer;
        }
        if (owner.owner == FolderOwner::OtherUser && sid != kTrustedInstallerSid) {
            answer.ok = true;
            answer.found = true;
            return answer;
        }
    } while (FindNextFileW(find.get(), &entry));
    const DWORD end = GetLastError();
    answer.ok = end == ERROR_NO_MORE_FILES;
    answer.error = answer.ok ? 0 : end;
    return answer;
}

bool CreateOneFolder(const std::u16string& path, uint32_t& error,
                     SECURITY_ATTRIBUTES* security = nullptr, bool* made = nullptr) {
    if (CreateDirectoryW(Wz(path), security)) {
        if (made) *made = true;
        return true;
    }
    const DWORD code = GetLastError();
    // A folder that is already there is what we wanted, whatever the call answered for it.
    if (IsFolder(path)) return true;
    error = code;
    return false;
}

}  // namespace

FileDescriptor NoFileDescriptor() {
    return INVALID_HANDLE_VALUE;
}

void CloseFileDescriptor(FileDescriptor file) {
    CloseHandle(file);
}

FileOwner OpenFileForReading(std::u16string_view path) {
    return FileOwner(CreateFileW(Wz(std::u16string(path)), GENERIC_READ,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                 OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
}

FileOwner CreateFileForWriting(std::u16string_view path, uint32_t& error) {
    FileOwner file(CreateFileW(Wz(std::u16string(path)), GENERIC_WRITE,
                               FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, CREATE_ALWAYS,
                               FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) error = GetLastError();
    return file;
}

bool ReadFromFile(const FileOwner& file, void* buffer, size_t size, size_t& got) {
    DWORD read = 0;
    const DWORD want = size > 0x40000000 ? 0x40000000 : static_cast<DWORD>(size);
    const bool ok = ReadFile(file.get(), buffer, want, &read, nullptr) != FALSE;
    got = ok ? read : 0;
    return ok;
}

bool WriteToFile(const FileOwner& file, const void* data, size_t size, uint32_t& error) {
    const auto* bytes = static_cast<const char*>(data);
    while (size > 0) {
        const DWORD want = size > 0x40000000 ? 0x40000000 : static_cast<DWORD>(size);
        DWORD written = 0;
        if (!WriteFile(file.get(), bytes, want, &written, nullptr)) {
            error = GetLastError();
            return false;
        }
        if (written == 0) {
            error = ERROR_WRITE_FAULT;
            return false;
        }
        bytes += written;
        size -= written;
    }
    return true;
}

bool FlushFile(const FileOwner& file, uint32_t& error) {
    if (FlushFileBuffers(file.get())) return true;
    error = GetLastError();
    return false;
}

bool CreateFolderTree(std::u16string_view folder, uint32_t& error, NewFolderAccess access,
                      bool* made) {
    error = 0;
    if (made) *made = false;
    const size_t root = RootLength(folder);
    if (folder.size() <= root) {
        if (IsFolder(std::u16string(folder))) return true;
        error = ERROR_PATH_NOT_FOUND;
        return false;
    }
    size_t last = folder.size();
    while (last > root && IsSeparator(folder[last - 1])) --last;
    for (size_t end = root + 1; end <= folder.size(); ++end) {
        if (end < folder.size() && !IsSeparator(folder[end])) continue;
        if (IsSeparator(folder[end - 1])) continue;  // a run of separators or a trailing one
        const std::u16string prefix(folder.substr(0, end));
        if (access == NewFolderAccess::Private && !IsFolder(prefix)) {
            // Made without a list it would take the parent's, and a drive root's lets every
            // signed-in user write: the list is given at creation, so there is no moment in
            // which the folder is open to them. A parent made on the way gets it as well, or
            // another user could rename that parent and put a folder of their own in place.
            const UniqueLocalMemory descriptor = PrivateFolderDescriptor(error);
            if (!descriptor) return false;
            SECURITY_ATTRIBUTES security{sizeof security, descriptor.get(), FALSE};
            if (!CreateOneFolder(prefix, error, &security, end == last ? made : nullptr))
                return false;
            continue;
        }
        // A private folder made here, without its list, does not count as made with it.
        const bool madeAsAsked = end == last && access == NewFolderAccess::Inherited;
        if (!CreateOneFolder(prefix, error, nullptr, madeAsAsked ? made : nullptr)) return false;
    }
    return true;
}

bool MakeFolderPrivate(std::u16string_view folder, uint32_t& error) {
    const UniqueLocalMemory descriptor = PrivateFolderDescriptor(error);
    if (!descriptor) return false;
    BOOL present = FALSE;
    BOOL defaulted = FALSE;
    PACL list = nullptr;
    const UniqueFile handle = OpenFolder(std::u16string(folder), READ_CONTROL | WRITE_DAC);
    if (!handle || !GetSecurityDescriptorDacl(descriptor.get(), &present, &list, &defaulted)) {
        error = GetLastError();
        return false;
    }
    // Protected: nothing the parent passes on is merged in. The system hands the new inheritable
    // entries on to what is inside, so files an earlier install left there take the list too.
    const DWORD status =
        SetSecurityInfo(handle.get(), SE_FILE_OBJECT,
                        DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION, nullptr,
                        nullptr, list, nullptr);
    if (status == ERROR_SUCCESS) return true;
    error = status;
    return false;
}

FolderOwnerFn g_folderOwner = &SystemFolderOwner;
FolderCheckFn g_folderWritableByOthers = &SystemFolderWritableByOthers;
FolderCheckFn g_folderHoldsOthersEntry = &SystemFolderHoldsOthersEntry;

bool RemoveFile(std::u16string_view path) {
    return DeleteFileW(Wz(std::u16string(path))) != FALSE;
}

bool MoveFileReplacing(std::u16string_view from, std::u16string_view to, uint32_t& error) {
    // Without MOVEFILE_COPY_ALLOWED a rename within one volume is the only way, so the new file
    // appears whole or not at all, and a target held open fails at once.
    if (MoveFileExW(Wz(std::u16string(from)), Wz(std::u16string(to)), MOVEFILE_REPLACE_EXISTING))
        return true;
    error = GetLastError();
    return false;
}

bool CopyFileOver(std::u16string_view from, std::u16string_view to) {
    return CopyFileW(Wz(std::u16string(from)), Wz(std::u16string(to)), FALSE) != FALSE;
}

bool RemoveFolderTree(std::u16string_view folder) {
    const std::u16string path(folder);
    const DWORD attributes = GetFileAttributesW(Wz(path));
    if (attributes == INVALID_FILE_ATTRIBUTES) return false;
    if (attributes & FILE_ATTRIBUTE_READONLY)
        SetFileAttributesW(Wz(path), attributes & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY));
    if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) return DeleteFileW(Wz(path)) != FALSE;
    // A junction or directory link: removing the directory entry removes the link only, and
    // nothing below it is ever listed.
    if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) return RemoveDirectoryW(Wz(path)) != FALSE;

    bool all = true;
    WIN32_FIND_DATAW entry;
    {
        UniqueFind find(FindFirstFileW(Wz(ChildPath(path, L"*")), &entry));
        if (find) {
            do {
                const std::wstring_view name = entry.cFileName;
                if (name == L"." || name == L"..") continue;
                all = RemoveFolderTree(ChildPath(path, entry.cFileName)) && all;
            } while (FindNextFileW(find.get(), &entry));
        }
    }  // the search handle is closed before its folder is removed
    return RemoveDirectoryW(Wz(path)) != FALSE && all;
}
