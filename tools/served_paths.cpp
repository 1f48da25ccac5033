#include "tools/served_paths.h"

#include <regex>

namespace {

bool IsNameChar(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '.' ||
           c == '_' || c == '-';
}

// One segment of a served path: url-rule characters only, never a dot-file (history.json's lock,
// an editor's or a publish's temporary file) and never "." or "..".
bool IsServedName(std::string_view name) {
    if (name.empty() || name.front() == '.') return false;
    for (char c : name)
        if (!IsNameChar(c)) return false;
    return true;
}

bool Matches(const ServedPath& row, std::string_view path) {
    const std::string_view location = row.location;
    if (location.substr(0, 2) == "= ") return path == location.substr(2);
    if (location.substr(0, 2) == "~ ") {
        const std::regex pattern(std::string(location.substr(2)));
        return std::regex_search(std::string(path), pattern);
    }
    return path.substr(0, location.size()) == location &&
           IsServedName(path.substr(location.size()));
}

}  // namespace

const ServedPath* ServedPathFor(std::string_view path) {
    if (path.empty() || path.front() != '/') return nullptr;
    for (size_t start = 1; start <= path.size();) {
        const size_t end = std::min(path.find('/', start), path.size());
        if (!IsServedName(path.substr(start, end - start))) return nullptr;
        start = end + 1;
    }
    for (const ServedPath& row : kServedPaths)
        if (Matches(row, path)) return &row;
    return nullptr;
}
