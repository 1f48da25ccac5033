#include "common/files.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <memory>

#include "common/host_path.h"
#include "common/unique_handle.h"

namespace {

// The Windows numbers the callers keep, for the few causes the rules tell apart.
constexpr uint32_t kErrorFileNotFound = 2;
constexpr uint32_t kErrorPathNotFound = 3;
constexpr uint32_t kErrorAccessDenied = 5;
constexpr uint32_t kErrorDiskFull = 112;
constexpr uint32_t kErrorAlreadyExists = 183;

uint32_t WindowsError(int error) {
    switch (error) {
        case ENOENT:
            return kErrorFileNotFound;
        case ENOTDIR:
            return kErrorPathNotFound;
        case EEXIST:
            return kErrorAlreadyExists;
        case ENOSPC:
            return kErrorDiskFull;
        default:
            return kErrorAccessDenied;
    }
}

bool IsFolder(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

using UniqueDir = UniqueHandle<DIR*, &closedir>;

}  // namespace

FileDescriptor NoFileDescriptor() {
    return -1;
}

void CloseFileDescriptor(FileDescriptor file) {
    close(file);
}

FileOwner OpenFileForReading(std::u16string_view path) {
    const auto host = HostPathFromWindows(path);
    return FileOwner(host ? open(host->c_str(), O_RDONLY | O_CLOEXEC) : -1);
}

FileOwner CreateFileForWriting(std::u16string_view path, uint32_t& error) {
    const auto host = HostPathFromWindows(path);
    FileOwner file(host ? open(host->c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644) : -1);
    if (!file) error = host ? WindowsError(errno) : kErrorPathNotFound;
    return file;
}

bool ReadFromFile(const FileOwner& file, void* buffer, size_t size, size_t& got) {
    for (;;) {
        const ssize_t n = read(file.get(), buffer, size);
        if (n < 0 && errno == EINTR) continue;
        got = n > 0 ? static_cast<size_t>(n) : 0;
        return n >= 0;
    }
}

bool WriteToFile(const FileOwner& file, const void* data, size_t size, uint32_t& error) {
    const auto* bytes = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t n = write(file.get(), bytes, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            error = n < 0 ? WindowsError(errno) : kErrorAccessDenied;
            return false;
        }
        bytes += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

bool FlushFile(const FileOwner& file, uint32_t& error) {
    if (fsync(file.get()) == 0) return true;
    error = WindowsError(errno);
    return false;
}

bool CreateFolderTree(std::u16string_view folder, uint32_t& error, NewFolderAccess access,
                      bool* made) {
    error = 0;
    if (made) *made = false;
    const auto host = HostPathFromWindows(folder);
    if (!host) {
        error = kErrorPathNotFound;
        return false;
    }
    const std::string& path = *host;
    size_t last = path.size();
    while (last > 1 && path[last - 1] == '/') --last;
    for (size_t end = 1; end <= path.size(); ++end) {
        if (end < path.size() && path[end] != '/') continue;
        if (path[end - 1] == '/') continue;
        const std::string prefix = path.substr(0, end);
        const mode_t mode = access == NewFolderAccess::Private ? 0700 : 0777;
        if (mkdir(prefix.c_str(), mode) == 0) {
            if (made && end == last) *made = true;
            continue;
        }
        if (IsFolder(prefix)) continue;
        error = WindowsError(errno);
        return false;
    }
    return true;
}

bool MakeFolderPrivate(std::u16string_view folder, uint32_t& error) {
    const auto host = HostPathFromWindows(folder);
    if (host && chmod(host->c_str(), 0700) == 0) return true;
    error = host ? WindowsError(errno) : kErrorPathNotFound;
    return false;
}

namespace {

FolderOwnerAnswer HostFolderOwner(const std::u16string& folder) {
    FolderOwnerAnswer answer;
    const auto host = HostPathFromWindows(folder);
    struct stat st {};
    if (!host || lstat(host->c_str(), &st) != 0) {
        answer.error = host ? WindowsError(errno) : kErrorPathNotFound;
        return answer;
    }
    answer.ok = true;
    // Root stands where SYSTEM stands on Windows: the machine's own account.
    answer.owner = st.st_uid == geteuid() ? FolderOwner::CurrentUser
                   : st.st_uid == 0       ? FolderOwner::System
                                          : FolderOwner::OtherUser;
    return answer;
}

FolderCheckAnswer HostFolderWritableByOthers(const std::u16string& folder) {
    FolderCheckAnswer answer;
    const auto host = HostPathFromWindows(folder);
    struct stat st {};
    if (!host || lstat(host->c_str(), &st) != 0) {
        answer.error = host ? WindowsError(errno) : kErrorPathNotFound;
        return answer;
    }
    answer.ok = true;
    answer.found = (st.st_mode & (S_IWGRP | S_IWOTH)) != 0;
    return answer;
}

FolderCheckAnswer HostFolderHoldsOthersEntry(const std::u16string& folder) {
    FolderCheckAnswer answer;
    const auto host = HostPathFromWindows(folder);
    const UniqueDir dir(host ? opendir(host->c_str()) : nullptr);
    if (!dir) {
        answer.error = host ? WindowsError(errno) : kErrorPathNotFound;
        return answer;
    }
    while (const dirent* entry = readdir(dir.get())) {
        const std::string name = entry->d_name;
        if (name == "." || name == "..") continue;
        struct stat st {};
        if (lstat((*host + "/" + name).c_str(), &st) != 0) {
            answer.error = WindowsError(errno);
            return answer;
        }
        // Root stands where SYSTEM stands on Windows.
        if (st.st_uid != geteuid() && st.st_uid != 0) {
            answer.ok = true;
            answer.found = true;
            return answer;
        }
    }
    answer.ok = true;
    return answer;
}

}  // namespace

FolderOwnerFn g_folderOwner = &HostFolderOwner;
FolderCheckFn g_folderWritableByOthers = &HostFolderWritableByOthers;
FolderCheckFn g_folderHoldsOthersEntry = &HostFolderHoldsOthersEntry;

bool RemoveFile(std::u16string_view path) {
    const auto host = HostPathFromWindows(path);
    return host && unlink(host->c_str()) == 0;
}

bool MoveFileReplacing(std::u16string_view from, std::u16string_view to, uint32_t& error) {
    const auto source = HostPathFromWindows(from);
    const auto target = HostPathFromWindows(to);
    if (source && target && std::rename(source->c_str(), target->c_str()) == 0) return true;
    error = source && target ? WindowsError(errno) : kErrorPathNotFound;
    return false;
}

bool CopyFileOver(std::u16string_view from, std::u16string_view to) {
    const FileOwner in = OpenFileForReading(from);
    if (!in) return false;
    uint32_t error = 0;
    const FileOwner out = CreateFileForWriting(to, error);
    if (!out) return false;
    const auto buffer = std::make_unique<char[]>(65536);
    for (;;) {
        size_t got = 0;
        if (!ReadFromFile(in, buffer.get(), 65536, got)) return false;
        if (got == 0) return true;
        if (!WriteToFile(out, buffer.get(), got, error)) return false;
    }
}

namespace {

bool RemoveHostTree(const std::string& path) {
    struct stat st {};
    if (lstat(path.c_str(), &st) != 0) return false;
    // A link is removed as itself, never followed.
    if (!S_ISDIR(st.st_mode)) return unlink(path.c_str()) == 0;
    bool all = true;
    if (const UniqueDir dir(opendir(path.c_str())); dir) {
        while (const dirent* entry = readdir(dir.get())) {
            const std::string name = entry->d_name;
            if (name == "." || name == "..") continue;
            all = RemoveHostTree(path + "/" + name) && all;
        }
    }
    return rmdir(path.c_str()) == 0 && all;
}

}  // namespace

bool RemoveFolderTree(std::u16string_view folder) {
    const auto host = HostPathFromWindows(folder);
    return host && RemoveHostTree(*host);
}
