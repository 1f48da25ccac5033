// The record of what `publish` put into a tree (api/updates/history.json, never served), and the
// lock that keeps two publishers, or a publish and a prune, from changing one tree at once.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "common/files.h"

// One publish, in the order they happened.
struct PublishedEntry {
    std::string version;
    uint64_t build = 0;
    std::string file;  // the payload's name under api/updates/files/
    std::string sha256;
    uint64_t size_bytes = 0;
    int64_t published_at = 0;
    // When this publish's manifest was put in place, by the publisher's clock: the moment the
    // one before it left the origin's view (0 in entries written before it was recorded).
    int64_t placed_at = 0;
};

// <tree>/api/updates/history.json.
std::string HistoryPath(const std::string& updatesDir);

// The entries of the history file; none when there is no file yet. False when it exists but
// cannot be read or is not a history this tool wrote: nothing may then be pruned or appended.
bool ReadHistory(const std::string& updatesDir, std::vector<PublishedEntry>& entries,
                 std::string& error);

// Replaces the history file in one step (ReplaceFile).
bool WriteHistory(const std::string& updatesDir, const std::vector<PublishedEntry>& entries,
                  std::string& error);

// An exclusive lock on <updatesDir>/.publish.lock, held while the owner lives. An empty owner
// and the reason in `error` when it cannot be taken; without `wait`, also when another holds it
// (tree_locked).
FileOwner LockUpdatesDir(const std::string& updatesDir, std::string& error, bool wait = true);
