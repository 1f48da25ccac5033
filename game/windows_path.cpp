#include "game/windows_path.h"

namespace {

bool IsAsciiLetter(char16_t c) {
    return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z');
}

// Length of the root name: two units for "X:", none otherwise.
size_t RootNameLength(std::u16string_view path) {
    return (path.size() >= 2 && IsAsciiLetter(path[0]) && path[1] == u':') ? 2 : 0;
}

}  // namespace

bool IsWindowsSeparator(char16_t c) {
    return c == u'\\' || c == u'/';
}

std::vector<std::u16string> WindowsPathElements(std::u16string_view path) {
    std::vector<std::u16string> out;
    size_t i = RootNameLength(path);
    if (i > 0) out.emplace_back(path.substr(0, i));
    if (i < path.size() && IsWindowsSeparator(path[i])) {
        out.emplace_back(1, path[i]);
        while (i < path.size() && IsWindowsSeparator(path[i])) ++i;
    }
    while (i < path.size()) {
        const size_t start = i;
        while (i < path.size() && !IsWindowsSeparator(path[i])) ++i;
        out.emplace_back(path.substr(start, i - start));
        if (i == path.size()) break;
        while (i < path.size() && IsWindowsSeparator(path[i])) ++i;
        if (i == path.size()) out.emplace_back();  // the trailing separator's empty element
    }
    return out;
}

std::u16string WindowsLexicallyNormal(std::u16string_view path) {
    if (path.empty()) return {};
    const size_t rootNameLength = RootNameLength(path);
    std::u16string root(path.substr(0, rootNameLength));
    size_t i = rootNameLength;
    const bool hasRootDirectory = i < path.size() && IsWindowsSeparator(path[i]);
    if (hasRootDirectory) root.push_back(u'\\');

    std::vector<std::u16string_view> names;
    bool trailingSeparator = false;
    while (i < path.size()) {
        while (i < path.size() && IsWindowsSeparator(path[i])) ++i;
        if (i == path.size()) break;
        const size_t start = i;
        while (i < path.size() && !IsWindowsSeparator(path[i])) ++i;
        const std::u16string_view name = path.substr(start, i - start);
        const bool last = path.find_first_not_of(u"\\/", i) == std::u16string_view::npos;
        trailingSeparator = last && i < path.size();
        if (name == u".") {
            trailingSeparator = last;
        } else if (name == u"..") {
            if (!names.empty() && names.back() != u"..") {
                names.pop_back();
                trailingSeparator = last;
            } else if (!hasRootDirectory) {
                names.push_back(name);
                trailingSeparator = false;  // a kept ".." never carries a separator after it
            }
        } else {
            names.push_back(name);
        }
    }

    std::u16string out = root;
    for (size_t n = 0; n < names.size(); ++n) {
        if (n > 0) out.push_back(u'\\');
        out.append(names[n]);
    }
    if (names.empty()) return root.empty() ? std::u16string(u".") : root;
    if (trailingSeparator) out.push_back(u'\\');
    return out;
}

std::u16string WindowsParentPath(std::u16string_view path) {
    const size_t rootNameLength = RootNameLength(path);
    size_t rootLength = rootNameLength;
    while (rootLength < path.size() && IsWindowsSeparator(path[rootLength])) ++rootLength;
    if (rootLength == path.size()) return std::u16string(path);  // only a root (or empty)

    size_t end = path.size();
    // The last element; a trailing separator makes it an empty name, whose parent keeps the rest.
    if (IsWindowsSeparator(path[end - 1])) {
        while (end > rootLength && IsWindowsSeparator(path[end - 1])) --end;
        return std::u16string(path.substr(0, end));
    }
    while (end > rootLength && !IsWindowsSeparator(path[end - 1])) --end;
    while (end > rootLength && IsWindowsSeparator(path[end - 1])) --end;
    return std::u16string(path.substr(0, end));
}
