#include "game/local_folder.h"

#include <string>

#include "common/text.h"
#include "game/file_queries.h"
#include "game/windows_path.h"

namespace {

constexpr size_t kLongestFolderText = 1024;

bool IsAsciiLetter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

bool HasOnlyPrintableBytes(std::string_view text) {
    for (char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F) return false;
    }
    return true;
}

bool HasParentStep(std::u16string_view path) {
    for (const auto& element : WindowsPathElements(path))
        if (element == u"..") return true;
    return false;
}

// The form the attribute query sees: normalised, trailing separators dropped but a drive root
// keeps its own.
std::u16string NormalForm(std::u16string_view path) {
    std::u16string normal = WindowsLexicallyNormal(path);
    while (normal.size() > 3 && IsWindowsSeparator(normal.back())) normal.pop_back();
    return normal;
}

char16_t AsciiUpper(char16_t c) {
    return (c >= u'a' && c <= u'z') ? c - u'a' + u'A' : c;
}

}  // namespace

bool IsAcceptableLocalFolder(std::string_view text, bool mustExist) {
    if (text.empty() || text.size() > kLongestFolderText) return false;
    if (!HasOnlyPrintableBytes(text)) return false;
    if (text.size() < 3) return false;
    if (!IsAsciiLetter(text[0]) || text[1] != ':' || (text[2] != '\\' && text[2] != '/'))
        return false;
    if (text.find(':', 2) != std::string_view::npos) return false;

    const std::u16string path = Utf8ToUtf16(text);
    if (path.empty()) return false;
    if (HasParentStep(path)) return false;

    const std::u16string root{AsciiUpper(path[0]), u':', u'\\'};
    if (g_driveType(root) == kDriveRemote) return false;

    // Only the folder itself is examined: a junction or link higher up is the user's own layout.
    // A folder that is not there yet cannot be a link; one whose attributes cannot be read (access
    // denied, a path too long for this program) might be, and is refused.
    const PathAttributes own = g_pathAttributes(NormalForm(path));
    if (own.attributes == kInvalidFileAttributes) {
        if (own.error != kErrorFileNotFound && own.error != kErrorPathNotFound) return false;
    } else if (own.attributes & kAttributeReparsePoint) {
        return false;
    }

    if (!mustExist) return true;

    const PathStatus status = g_pathStatus(path);
    if (!status.ok || StatusIsLink(status)) return false;
    return (status.attributes & kAttributeDirectory) != 0;
}
