#include "common/path.h"

std::u16string JoinPath(std::u16string_view folder, std::u16string_view name) {
    std::u16string out(folder);
    if (!out.empty() && out.back() != u'\\' && out.back() != u'/') out.push_back(u'\\');
    out.append(name);
    return out;
}
