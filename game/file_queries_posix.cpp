#include "game/file_queries.h"

#include <sys/stat.h>

#include <cerrno>
#include <fstream>

#include "common/host_path.h"
#include "common/text.h"

namespace {

bool IsDriveZ(char16_t c) {
    return c == u'Z' || c == u'z';
}

uint32_t HostDriveType(const std::u16string& root) {
    return (root.size() == 3 && IsDriveZ(root[0]) && root[1] == u':' && root[2] == u'\\')
               ? kDriveFixed
               : kDriveNoRootDir;
}

// The Windows error for a failed lstat: a missing last element is "file not found", a missing
// folder on the way (or a drive that is not there) "path not found".
uint32_t WindowsErrorOf(int code, const std::string& host) {
    switch (code) {
        case ENOENT: {
            const size_t slash = host.find_last_of('/');
            struct stat parent {};
            const std::string folder = slash == 0 ? "/" : host.substr(0, slash);
            return slash == std::string::npos || lstat(folder.c_str(), &parent) == 0
                       ? kErrorFileNotFound
                       : kErrorPathNotFound;
        }
        case ENOTDIR:
            return kErrorPathNotFound;
        case EACCES:
        case EPERM:
            return kErrorAccessDenied;
        case ENAMETOOLONG:
            return kErrorFilenameExcedRange;
        default:
            return 1117;  // ERROR_IO_DEVICE
    }
}

PathAttributes HostPathAttributes(const std::u16string& path) {
    PathAttributes answer;
    const auto host = HostPathFromWindows(path);
    if (!host) {
        answer.error = kErrorPathNotFound;
        return answer;
    }
    struct stat st {};
    if (lstat(host->c_str(), &st) != 0) {
        answer.error = WindowsErrorOf(errno, *host);
        return answer;
    }
    if (S_ISLNK(st.st_mode)) {
        // Wine shows a directory link as directory + reparse point; a file link as a reparse point.
        struct stat target {};
        const bool dir = stat(host->c_str(), &target) == 0 && S_ISDIR(target.st_mode);
        answer.attributes = kAttributeReparsePoint | (dir ? kAttributeDirectory : 0);
    } else {
        answer.attributes = S_ISDIR(st.st_mode) ? kAttributeDirectory : kAttributeNormal;
    }
    return answer;
}

PathStatus HostPathStatus(const std::u16string& path) {
    PathStatus status;
    const auto host = HostPathFromWindows(path);
    struct stat st {};
    if (!host || stat(host->c_str(), &st) != 0) return status;
    status.ok = true;
    status.attributes = S_ISDIR(st.st_mode) ? kAttributeDirectory : kAttributeNormal;
    status.size = static_cast<uint64_t>(st.st_size);
    return status;
}

uint32_t HostLogicalDrives() {
    return 1u << 25;
}

std::optional<std::string> HostReadFileHead(const std::u16string& path, size_t maxBytes) {
    const auto host = HostPathFromWindows(path);
    if (!host) return std::nullopt;
    std::ifstream in(*host, std::ios::binary);
    if (!in) return std::nullopt;
    std::string bytes(maxBytes, '\0');
    in.read(bytes.data(), static_cast<std::streamsize>(maxBytes));
    bytes.resize(static_cast<size_t>(in.gcount()));
    return bytes;
}

}  // namespace

DriveTypeFn g_driveType = &HostDriveType;
PathAttributesFn g_pathAttributes = &HostPathAttributes;
PathStatusFn g_pathStatus = &HostPathStatus;
LogicalDrivesFn g_logicalDrives = &HostLogicalDrives;
ReadFileHeadFn g_readFileHead = &HostReadFileHead;
