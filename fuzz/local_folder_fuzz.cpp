// The local folder rules over fixed platform answers. The first three bytes choose the answers
// (drive type per letter, the attribute query's answer, the status query's answer), the rest is
// the folder text, checked in both modes and through the Browse command's rule. Properties: an
// accepted folder keeps every rule (printable, a local drive letter, no parent step, not a link,
// and with mustExist an existing directory); the existing-folder mode never accepts what the
// other refuses; the attribute query sees the folder's own names in normal form; and the install
// folder Browse derives from an accepted pick is itself accepted whenever it fits the length.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "app/browse_rules.h"
#include "common/text.h"
#include "fuzz/property.h"
#include "game/file_queries.h"
#include "game/local_folder.h"
#include "game/windows_path.h"

namespace {

struct Answers {
    uint8_t drive = 0;
    PathAttributes attributes;
    PathStatus status;
};
Answers g_answers;
std::vector<std::u16string> g_driveQueries;
std::vector<std::u16string> g_attributeQueries;
std::vector<std::u16string> g_statusQueries;

uint32_t FixedDriveType(const std::u16string& root) {
    g_driveQueries.push_back(root);
    const unsigned letter = root.empty() ? 0 : static_cast<unsigned>(root[0] - u'A');
    return (g_answers.drive + letter) % 7;  // kDriveUnknown .. kDriveRamdisk; 0 makes E: remote
}
PathAttributes FixedAttributes(const std::u16string& path) {
    g_attributeQueries.push_back(path);
    return g_answers.attributes;
}
PathStatus FixedStatus(const std::u16string& path) {
    g_statusQueries.push_back(path);
    return g_answers.status;
}

Answers AnswersFrom(uint8_t drive, uint8_t attributes, uint8_t status) {
    static constexpr uint32_t kErrors[] = {kErrorFileNotFound, kErrorPathNotFound,
                                           kErrorAccessDenied, kErrorInvalidName};
    static constexpr uint32_t kKinds[] = {kAttributeDirectory, kAttributeNormal,
                                          kAttributeDirectory | kAttributeReparsePoint,
                                          kAttributeNormal | kAttributeReparsePoint};
    static constexpr uint32_t kTags[] = {kReparseTagSymlink, kReparseTagMountPoint, 0x80000017u, 0};
    Answers answers;
    answers.drive = drive;
    if ((attributes & 3) == 0) {
        answers.attributes = {kInvalidFileAttributes, kErrors[(attributes >> 2) & 3]};
    } else {
        answers.attributes = {kKinds[(attributes >> 2) & 3], 0};
    }
    answers.status.ok = (status & 1) != 0;
    answers.status.attributes = kKinds[(status >> 1) & 3];
    answers.status.reparseTag = kTags[(status >> 3) & 3];
    return answers;
}

char16_t Upper(char16_t c) {
    return (c >= u'a' && c <= u'z') ? c - u'a' + u'A' : c;
}

// The names a folder text stands for: everything after the root, without "." and empty names.
std::vector<std::u16string> Names(std::u16string_view path) {
    std::vector<std::u16string> names;
    for (const std::u16string& element : WindowsPathElements(path)) {
        if (element.empty() || element == u"." || element == u"\\" || element == u"/") continue;
        if (element.size() == 2 && element[1] == u':') continue;
        names.push_back(element);
    }
    return names;
}

bool Check(std::string_view text, bool mustExist) {
    g_driveQueries.clear();
    g_attributeQueries.clear();
    g_statusQueries.clear();
    const bool accepted = IsAcceptableLocalFolder(text, mustExist);
    if (!accepted) return false;

    FUZZ_PROPERTY(text.size() >= 3 && text.size() <= 1024, "3 to 1024 bytes");
    for (char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        FUZZ_PROPERTY(byte >= 0x20 && byte != 0x7F, "no control bytes");
    }
    const char letter = text[0];
    FUZZ_PROPERTY(((letter >= 'A' && letter <= 'Z') || (letter >= 'a' && letter <= 'z')) &&
                      text[1] == ':' && (text[2] == '\\' || text[2] == '/'),
                  "an absolute path on a drive letter");
    FUZZ_PROPERTY(text.find(':', 2) == std::string_view::npos, "no stream or device colon");

    const std::u16string path = Utf8ToUtf16(text);
    for (const std::u16string& element : WindowsPathElements(path))
        FUZZ_PROPERTY(element != u"..", "no parent step");

    FUZZ_PROPERTY(g_driveQueries.size() == 1, "one drive question");
    const std::u16string root{Upper(path[0]), u':', u'\\'};
    FUZZ_PROPERTY(g_driveQueries[0] == root, "the drive asked is the folder's own, upper-cased");
    FUZZ_PROPERTY(FixedDriveType(root) != kDriveRemote, "never on a network drive");

    FUZZ_PROPERTY(g_attributeQueries.size() == 1, "one attribute question");
    const std::u16string& asked = g_attributeQueries[0];
    if (g_answers.attributes.attributes == kInvalidFileAttributes)
        FUZZ_PROPERTY(g_answers.attributes.error == kErrorFileNotFound ||
                          g_answers.attributes.error == kErrorPathNotFound,
                      "an unreadable folder might be a link and is refused");
    else
        FUZZ_PROPERTY((g_answers.attributes.attributes & kAttributeReparsePoint) == 0,
                      "the folder itself is no link");
    FUZZ_PROPERTY(
        asked.find(u'/') == std::u16string::npos && asked.find(u"\\\\") == std::u16string::npos,
        "the attribute question uses single backslashes");
    FUZZ_PROPERTY(asked.size() == 3 || asked.back() != u'\\',
                  "no trailing separator but a drive root's");
    FUZZ_PROPERTY(WindowsLexicallyNormal(asked) == asked, "the attribute question is normal");
    FUZZ_PROPERTY(asked.compare(0, 2, path.substr(0, 2)) == 0 && Names(asked) == Names(path),
                  "the attribute question names the same folder");

    if (mustExist) {
        FUZZ_PROPERTY(g_statusQueries.size() == 1 && g_statusQueries[0] == path,
                      "the status question is about the folder as given");
        FUZZ_PROPERTY(g_answers.status.ok, "an existing folder");
        FUZZ_PROPERTY((g_answers.status.attributes & kAttributeDirectory) != 0, "a directory");
        FUZZ_PROPERTY(!StatusIsLink(g_answers.status), "not reached as a link");
    } else {
        FUZZ_PROPERTY(g_statusQueries.empty(), "no status question without mustExist");
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 3) return 0;
    static const bool installed = [] {
        g_driveType = &FixedDriveType;
        g_pathAttributes = &FixedAttributes;
        g_pathStatus = &FixedStatus;
        return true;
    }();
    (void)installed;
    g_answers = AnswersFrom(data[0], data[1], data[2]);
    const std::string_view text(reinterpret_cast<const char*>(data) + 3, size - 3);

    const bool loose = Check(text, false);
    const bool strict = Check(text, true);
    FUZZ_PROPERTY(!strict || loose, "mustExist never accepts what the text rules refuse");

    const auto installDir = InstallDirForChosenFolder(text);
    FUZZ_PROPERTY(installDir.has_value() == loose, "Browse takes exactly the accepted picks");
    if (installDir) {
        FUZZ_PROPERTY(WindowsPathFilename(*installDir) == kInstallFolderName,
                      "the install folder ends in VarnokClient");
        const std::string utf8 = Utf16ToUtf8(*installDir);
        if (utf8.size() <= 1024)
            FUZZ_PROPERTY(Check(utf8, false), "the derived install folder passes the same rules");
    }
    return 0;
}
