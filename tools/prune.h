// The prune verb: payloads that no manifest in view can name any more leave the tree.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct PruneRequest {
    std::string treeDir;  // the root of the update tree
    uint64_t keep = 0;    // the newest versions in the history whose payloads stay
    // Seconds a payload stays after the manifest that named it was replaced: edges and caches
    // further down may serve that manifest for its lifetime plus their grace.
    uint64_t minAge = 3600;
    int64_t now = 0;  // 0 or less: the clock
};

// Removes the payloads under api/updates/files/ that the history records as published, that
// neither the current manifest nor the `keep` newest versions of the history name, and whose
// manifest was replaced at least `minAge` seconds ago (by the next publish in the history). The
// current manifest's payload always stays, and a file the history does not know (not published
// by this tool, or a publish under way) is never touched. Refuses when the current manifest or
// the history cannot be read. `removed` lists the names taken out, `kept` those of the history
// that stay (a payload kept for its age with how long ago its manifest was replaced).
bool PruneTree(const PruneRequest& request, std::vector<std::string>& removed,
               std::vector<std::string>& kept, std::string& error);
