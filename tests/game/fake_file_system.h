// A file system of fixed answers for the folder and game rules: drive types per letter, the
// paths that exist (directories, files with sizes, links) and a log of every status path asked.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "common/own_path.h"
#include "common/scoped_override.h"
#include "game/file_queries.h"

struct FakeFileSystem {
    std::map<char16_t, uint32_t> driveTypes;  // upper-case letter -> answer; others: no root dir
    uint32_t logicalDrives = 0;
    std::map<std::u16string, uint32_t> attributes;  // the answer without following links
    // The error for a path without attributes; "file not found" unless a test names another.
    std::map<std::u16string, uint32_t> attributeErrors;
    std::map<std::u16string, PathStatus> statuses;  // the answer with links followed
    std::map<std::u16string, std::string> contents;
    std::u16string ownPath;
    std::vector<std::u16string> attributeQueries;
    std::vector<std::u16string> statusQueries;

    void AddFolder(const std::u16string& path) {
        attributes[path] = kAttributeDirectory;
        statuses[path] = PathStatus{true, kAttributeDirectory, 0, 0};
    }
    void AddFile(const std::u16string& path, uint64_t size) {
        attributes[path] = kAttributeNormal;
        statuses[path] = PathStatus{true, kAttributeNormal, 0, size};
    }
};

// Installs the fake for the length of one scope; only one can be active at a time.
class UseFakeFileSystem {
public:
    explicit UseFakeFileSystem(FakeFileSystem& fake);
    ~UseFakeFileSystem();

private:
    ScopedOverride<DriveTypeFn> driveType_;
    ScopedOverride<PathAttributesFn> attributes_;
    ScopedOverride<PathStatusFn> status_;
    ScopedOverride<LogicalDrivesFn> drives_;
    ScopedOverride<ReadFileHeadFn> head_;
    ScopedOverride<OwnExecutablePathFn> own_;
};
