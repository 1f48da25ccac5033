#include "game/file_queries.h"

bool StatusIsLink(const PathStatus& status) {
    return (status.attributes & kAttributeReparsePoint) != 0 &&
           (status.reparseTag == kReparseTagSymlink || status.reparseTag == kReparseTagMountPoint);
}
