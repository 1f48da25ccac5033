#include "tests/game/fake_file_system.h"

namespace {

FakeFileSystem* g_fake = nullptr;

uint32_t FakeDriveType(const std::u16string& root) {
    if (root.size() != 3 || root[1] != u':' || root[2] != u'\\') return kDriveNoRootDir;
    const auto it = g_fake->driveTypes.find(root[0]);
    return it == g_fake->driveTypes.end() ? kDriveNoRootDir : it->second;
}

PathAttributes FakeAttributes(const std::u16string& path) {
    g_fake->attributeQueries.push_back(path);
    if (const auto it = g_fake->attributes.find(path); it != g_fake->attributes.end())
        return PathAttributes{it->second, 0};
    const auto error = g_fake->attributeErrors.find(path);
    return PathAttributes{kInvalidFileAttributes, error == g_fake->attributeErrors.end()
                                                      ? kErrorFileNotFound
                                                      : error->second};
}

PathStatus FakeStatus(const std::u16string& path) {
    g_fake->statusQueries.push_back(path);
    const auto it = g_fake->statuses.find(path);
    return it == g_fake->statuses.end() ? PathStatus{} : it->second;
}

uint32_t FakeLogicalDrives() {
    return g_fake->logicalDrives;
}

std::optional<std::string> FakeHead(const std::u16string& path, size_t maxBytes) {
    const auto it = g_fake->contents.find(path);
    if (it == g_fake->contents.end()) return std::nullopt;
    return it->second.substr(0, maxBytes);
}

std::u16string FakeOwnPath() {
    return g_fake->ownPath;
}

}  // namespace

UseFakeFileSystem::UseFakeFileSystem(FakeFileSystem& fake)
    : driveType_(g_driveType, &FakeDriveType),
      attributes_(g_pathAttributes, &FakeAttributes),
      status_(g_pathStatus, &FakeStatus),
      drives_(g_logicalDrives, &FakeLogicalDrives),
      head_(g_readFileHead, &FakeHead),
      own_(g_ownExecutablePath, &FakeOwnPath) {
    g_fake = &fake;
}

UseFakeFileSystem::~UseFakeFileSystem() {
    g_fake = nullptr;
}
