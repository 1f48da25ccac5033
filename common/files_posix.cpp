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
constexpr uint32_t kErrorAlreadyExists = 183;

uint32_t WindowsError(int error) {
    switch (error) {
        case ENOENT:
            return kErrorFileNotFound;
        case ENOTDIR:
            return kErrorPathNotFound;
        case EEXIST:
            return kErrorAlreadyExists;
        default:
            return kErrorAccessDenied;
    }
}

bool IsFolder(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

int NoDescriptor() {
    return -1;
}
using UniqueFd = UniqueHandle<int, &close, &NoDescriptor>;
using UniqueDir = UniqueHandle<DIR*, &closedir>;

}  // namespace

bool CreateFolderTree(std::u16string_view folder, uint32_t& error) {
    error = 0;
    const auto host = HostPathFromWindows(folder);
    if (!host) {
        error = kErrorPathNotFound;
        return false;
    }
    const std::string& path = *host;
    for (size_t end = 1; end <= path.size(); ++end) {
        if (end < path.size() && path[end] != '/') continue;
        if (path[end - 1] == '/') continue;
        const std::string prefix = path.substr(0, end);
        if (mkdir(prefix.c_str(), 0777) == 0 || IsFolder(prefix)) continue;
        error = WindowsError(errno);
        return false;
    }
    return true;
}

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
    const auto source = HostPathFromWindows(from);
    const auto target = HostPathFromWindows(to);
    if (!source || !target) return false;
    const UniqueFd in(open(source->c_str(), O_RDONLY | O_CLOEXEC));
    if (!in) return false;
    const UniqueFd out(open(target->c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0755));
    if (!out) return false;
    const auto buffer = std::make_unique<char[]>(65536);
    for (;;) {
        const ssize_t got = read(in.get(), buffer.get(), 65536);
        if (got < 0) return false;
        if (got == 0) return true;
        for (ssize_t done = 0; done < got;) {
            const ssize_t put =
                write(out.get(), buffer.get() + done, static_cast<size_t>(got - done));
            if (put <= 0) return false;
            done += put;
        }
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
