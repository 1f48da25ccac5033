#include "common/host_path.h"

#include "common/text.h"

std::optional<std::string> HostPathFromWindows(std::u16string_view path) {
    std::u16string_view rest = path;
    if (path.size() >= 2 && path[1] == u':') {
        if (path[0] != u'Z' && path[0] != u'z') return std::nullopt;
        rest.remove_prefix(2);
        if (rest.empty()) return std::string("/");
    }
    std::string out = Utf16ToUtf8(rest);
    for (char& c : out)
        if (c == '\\') c = '/';
    if (out.empty()) return std::nullopt;
    return out;
}
