#include "tools/prune.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <map>
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
    // A payload left the origin's view when the next publish replaced the last manifest that
    // named it. The newest entry has no recorded replacement (it is current, or a later publish
    // stopped before recording itself) and counts as replaced now.
    const int64_t now = request.now > 0 ? request.now : static_cast<int64_t>(std::time(nullptr));
    std::map<std::string, int64_t> replacedAt;
    for (size_t i = 0; i < history.size(); ++i) {
        const PublishedEntry* next = i + 1 < history.size() ? &history[i + 1] : nullptr;
        replacedAt[history[i].file] = !next                 ? now
                                      : next->placed_at > 0 ? next->placed_at
                                                            : next->published_at;
    }
    std::set<std::string> seen;
    for (const PublishedEntry& entry : history) {
        if (!seen.insert(entry.file).second) continue;
        if (keepNames.count(entry.file)) {
            kept.push_back(entry.file);
            continue;
        }
        const int64_t age = now - replacedAt[entry.file];
        if (age < 0 || static_cast<uint64_t>(age) < request.minAge) {
            kept.push_back(entry.file + " (its manifest was replaced " + std::to_string(age) +
                           " s ago, under the minimum age of " + std::to_string(request.minAge) +
                           " s)");
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
