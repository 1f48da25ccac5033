#include "tools/prune.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <set>

#include <nlohmann/json.hpp>

#include "manifest/update_manifest.h"
#include "tools/history.h"
#include "tools/key_files.h"

namespace fs = std::filesystem;

namespace {

// The payload the served manifest names. Its signature is not checked: whatever is in view is
// what edges and installers may ask for.
bool CurrentPayload(const fs::path& updates, std::string& name, std::string& error) {
    const std::string path = (updates / "manifest").string();
    std::string envelope;
    if (!ReadWholeFile(path, envelope, error)) return false;
    try {
        const nlohmann::json manifest = nlohmann::json::parse(
            nlohmann::json::parse(envelope).at("manifest_json").get<std::string>());
        const std::string url = manifest.at("launcher").at("url").get<std::string>();
        if (IsAcceptedFileUrl(url)) {
            name = url.substr(kFileUrlPrefix.size());
            return true;
        }
    } catch (const nlohmann::json::exception&) {
    }
    error = path + " names no payload that can be told apart; nothing was pruned";
    return false;
}

}  // namespace

bool PruneTree(const PruneRequest& request, std::vector<std::string>& removed,
               std::vector<std::string>& kept, std::string& error) {
    removed.clear();
    kept.clear();
    const fs::path updates = fs::path(request.treeDir) / "api" / "updates";
    const fs::path files = updates / "files";
    const FileOwner lock = LockUpdatesDir(updates.string(), error);
    std::string current;
    std::vector<PublishedEntry> history;
    if (!lock || !CurrentPayload(updates, current, error) ||
        !ReadHistory(updates.string(), history, error))
        return false;
    if (history.empty()) {
        error = updates.string() +
                " has no history of publishes, so nothing is known to be "
                "unused; nothing was pruned";
        return false;
    }

    // Newest first: the first `keep` versions met keep every payload published under them.
    std::set<std::string> keepNames{current}, versions;
    for (auto it = history.rbegin(); it != history.rend(); ++it) {
        if (!versions.count(it->version) && versions.size() < request.keep)
            versions.insert(it->version);
        if (versions.count(it->version)) keepNames.insert(it->file);
    }
    std::set<std::string> seen;
    for (const PublishedEntry& entry : history) {
        if (!seen.insert(entry.file).second) continue;
        if (keepNames.count(entry.file)) {
            kept.push_back(entry.file);
            continue;
        }
        const std::string path = (files / entry.file).string();
        if (unlink(path.c_str()) == 0) {
            removed.push_back(entry.file);
        } else if (errno != ENOENT) {
            error = "cannot remove " + path + ": " + std::strerror(errno);
            return false;
        }
    }
    return removed.empty() || g_syncFolder(files.string(), error);
}
