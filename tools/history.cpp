#include "tools/history.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <stdexcept>

#include <nlohmann/json.hpp>

#include "manifest/update_manifest.h"
#include "tools/key_files.h"

namespace fs = std::filesystem;

std::string HistoryPath(const std::string& updatesDir) {
    return (fs::path(updatesDir) / "history.json").string();
}

bool ReadHistory(const std::string& updatesDir, std::vector<PublishedEntry>& entries,
                 std::string& error) {
    entries.clear();
    const std::string path = HistoryPath(updatesDir);
    std::error_code ec;
    if (!fs::exists(fs::symlink_status(path, ec))) return true;
    std::string text;
    if (!ReadWholeFile(path, text, error)) return false;
    try {
        const nlohmann::json value = nlohmann::json::parse(text);
        for (const nlohmann::json& item : value.at("published")) {
            PublishedEntry entry;
            entry.version = item.at("version").get<std::string>();
            entry.build = item.at("build").get<uint64_t>();
            entry.file = item.at("file").get<std::string>();
            entry.sha256 = item.at("sha256").get<std::string>();
            entry.size_bytes = item.at("size_bytes").get<uint64_t>();
            entry.published_at = item.at("published_at").get<int64_t>();
            entry.placed_at = item.value("placed_at", int64_t{0});
            // A name that is not one plain file below files/ is never acted on.
            if (!IsAcceptedFileUrl(std::string(kFileUrlPrefix) + entry.file))
                throw std::invalid_argument("file");
            entries.push_back(entry);
        }
    } catch (const std::exception&) {
        error = path + " is not a history of publishes this tool can read; it was left as it is";
        return false;
    }
    return true;
}

bool WriteHistory(const std::string& updatesDir, const std::vector<PublishedEntry>& entries,
                  std::string& error) {
    nlohmann::ordered_json list = nlohmann::ordered_json::array();
    for (const PublishedEntry& entry : entries) {
        nlohmann::ordered_json item;
        item["version"] = entry.version;
        item["build"] = entry.build;
        item["file"] = entry.file;
        item["sha256"] = entry.sha256;
        item["size_bytes"] = entry.size_bytes;
        item["published_at"] = entry.published_at;
        item["placed_at"] = entry.placed_at;
        list.push_back(item);
    }
    nlohmann::ordered_json value;
    value["published"] = list;
    return ReplaceFile(HistoryPath(updatesDir), value.dump(2) + "\n", 0644, error);
}

FileOwner LockUpdatesDir(const std::string& updatesDir, std::string& error, bool wait) {
    const std::string path = (fs::path(updatesDir) / ".publish.lock").string();
    FileOwner lock(open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0644));
    if (!lock) {
        error = "cannot open " + path + ": " + std::strerror(errno);
        return FileOwner();
    }
    // Waits for a publish or prune under way; they take seconds, not longer.
    while (flock(lock.get(), wait ? LOCK_EX : LOCK_EX | LOCK_NB) != 0) {
        if (errno == EINTR) continue;
        if (errno == EWOULDBLOCK) {
            error = path +
                    " is held: a publish or prune of this tree is under way; run again "
                    "once it has finished (tree_locked)";
            return FileOwner();
        }
        error = "cannot lock " + path + ": " + std::strerror(errno);
        return FileOwner();
    }
    return lock;
}
