// The file-system questions the folder rules ask, each a replaceable function with the system's
// answer as its default. Paths are UTF-16 with the Windows rules. Answers use the Windows values
// so that the rules read the same on both builds; the host build answers for a Linux machine seen
// the way Wine shows it: drive Z: is the root folder and no other letter has a drive.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

// GetDriveTypeW answers.
inline constexpr uint32_t kDriveUnknown = 0;
inline constexpr uint32_t kDriveNoRootDir = 1;
inline constexpr uint32_t kDriveRemovable = 2;
inline constexpr uint32_t kDriveFixed = 3;
inline constexpr uint32_t kDriveRemote = 4;
inline constexpr uint32_t kDriveCdrom = 5;
inline constexpr uint32_t kDriveRamdisk = 6;

// File attribute bits and reparse tags.
inline constexpr uint32_t kInvalidFileAttributes = 0xFFFFFFFFu;
inline constexpr uint32_t kAttributeDirectory = 0x10;
inline constexpr uint32_t kAttributeNormal = 0x80;
inline constexpr uint32_t kAttributeReparsePoint = 0x400;
inline constexpr uint32_t kReparseTagSymlink = 0xA000000Cu;
inline constexpr uint32_t kReparseTagMountPoint = 0xA0000003u;

// Windows error numbers the rules tell apart.
inline constexpr uint32_t kErrorFileNotFound = 2;
inline constexpr uint32_t kErrorPathNotFound = 3;
inline constexpr uint32_t kErrorAccessDenied = 5;
inline constexpr uint32_t kErrorInvalidName = 123;
inline constexpr uint32_t kErrorFilenameExcedRange = 206;

// What the attribute query reports: the attributes, or kInvalidFileAttributes and the Windows
// error number of the failure.
struct PathAttributes {
    uint32_t attributes = kInvalidFileAttributes;
    uint32_t error = 0;
};

// What a status query with links followed reports.
struct PathStatus {
    bool ok = false;  // false: the query failed, for whatever reason
    uint32_t attributes = 0;
    uint32_t reparseTag = 0;  // only meaningful with kAttributeReparsePoint
    uint64_t size = 0;        // meaningful for files
};

// The kind of drive behind a root such as "C:\".
using DriveTypeFn = uint32_t (*)(const std::u16string& root);
// Attributes of the path itself, links not followed.
using PathAttributesFn = PathAttributes (*)(const std::u16string& path);
// Status with links followed.
using PathStatusFn = PathStatus (*)(const std::u16string& path);
// Bit 0 = A: ... bit 25 = Z:.
using LogicalDrivesFn = uint32_t (*)();
// Up to maxBytes from the start of a file opened for reading in binary mode; empty when the file
// cannot be opened.
using ReadFileHeadFn = std::optional<std::string> (*)(const std::u16string& path, size_t maxBytes);

extern DriveTypeFn g_driveType;
extern PathAttributesFn g_pathAttributes;
extern PathStatusFn g_pathStatus;
extern LogicalDrivesFn g_logicalDrives;
extern ReadFileHeadFn g_readFileHead;

// A status that names a link or mount point rather than what it leads to.
bool StatusIsLink(const PathStatus& status);
