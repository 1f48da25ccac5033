#include "game/file_queries.h"

#include <windows.h>

#include "common/handles_win.h"
#include "common/text_win.h"

namespace {

uint32_t SystemDriveType(const std::u16string& root) {
    return GetDriveTypeW(Wz(root));
}

PathAttributes SystemPathAttributes(const std::u16string& path) {
    PathAttributes answer;
    answer.attributes = GetFileAttributesW(Wz(path));
    if (answer.attributes == INVALID_FILE_ATTRIBUTES) answer.error = GetLastError();
    return answer;
}

// Opening with backup semantics follows links and reaches directories as well as files; the
// handle then describes whatever the path finally leads to.
PathStatus SystemPathStatus(const std::u16string& path) {
    PathStatus status;
    UniqueFile file(CreateFileW(Wz(path), FILE_READ_ATTRIBUTES,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!file) return status;
    BY_HANDLE_FILE_INFORMATION info{};
    if (!GetFileInformationByHandle(file.get(), &info)) return status;
    status.attributes = info.dwFileAttributes;
    status.size = (static_cast<uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
    if (status.attributes & FILE_ATTRIBUTE_REPARSE_POINT) {
        FILE_ATTRIBUTE_TAG_INFO tag{};
        if (!GetFileInformationByHandleEx(file.get(), FileAttributeTagInfo, &tag, sizeof tag))
            return status;
        status.reparseTag = tag.ReparseTag;
    }
    status.ok = true;
    return status;
}

uint32_t SystemLogicalDrives() {
    return GetLogicalDrives();
}

std::optional<std::string> SystemReadFileHead(const std::u16string& path, size_t maxBytes) {
    UniqueFile file(CreateFileW(Wz(path), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return std::nullopt;
    std::string bytes(maxBytes, '\0');
    size_t done = 0;
    while (done < maxBytes) {
        DWORD got = 0;
        if (!ReadFile(file.get(), bytes.data() + done, static_cast<DWORD>(maxBytes - done), &got,
                      nullptr) ||
            got == 0)
            break;
        done += got;
    }
    bytes.resize(done);
    return bytes;
}

}  // namespace

DriveTypeFn g_driveType = &SystemDriveType;
PathAttributesFn g_pathAttributes = &SystemPathAttributes;
PathStatusFn g_pathStatus = &SystemPathStatus;
LogicalDrivesFn g_logicalDrives = &SystemLogicalDrives;
ReadFileHeadFn g_readFileHead = &SystemReadFileHead;
