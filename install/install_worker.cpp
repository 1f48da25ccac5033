#include "install/install_worker.h"

namespace {

bool IsSeparator(char16_t c) {
    return c == u'\\' || c == u'/';
}

}  // namespace

bool LooksLikeClientExe(std::string_view head, uint64_t announcedSize) {
    return head.size() >= 2 && head[0] == 'M' && head[1] == 'Z' &&
           announcedSize >= kMinClientExeBytes;
}

bool SamePathLexically(std::u16string_view a, std::u16string_view b) {
    size_t i = 0;
    size_t j = 0;
    while (i < a.size() && j < b.size()) {
        if (IsSeparator(a[i]) && IsSeparator(b[j])) {
            while (i < a.size() && IsSeparator(a[i])) ++i;
            while (j < b.size() && IsSeparator(b[j])) ++j;
            continue;
        }
        if (a[i] != b[j]) return false;
        ++i;
        ++j;
    }
    return i == a.size() && j == b.size();
}
