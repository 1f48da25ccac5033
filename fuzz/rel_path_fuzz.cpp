// Arbitrary bytes as a game file's rel_path and as a file URL of the manifest. Properties: a
// path the rules accept, joined to any base folder the way the game files are looked for, stays
// below that folder once Windows has normalised it, names no device and is one UTF-16 unit per
// byte; an accepted file URL names one plain file below the server's files folder.
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz/property.h"
#include "game/windows_path.h"
#include "manifest/update_manifest.h"

namespace {

constexpr std::array<std::u16string_view, 6> kBases{
    u"C:\\Games\\Morvanta", u"C:\\Games\\Morvanta\\", u"D:/Games/x", u"C:\\", u"C:", u""};

// Windows drops trailing dots and spaces of a name, which would make "a." the same file as "a".
bool EndsInDotOrSpace(std::u16string_view name) {
    return !name.empty() && (name.back() == u'.' || name.back() == u' ');
}

void CheckBelow(std::u16string_view base, std::string_view rel) {
    const std::u16string joined = GameFileLocalPath(base, rel);
    FUZZ_PROPERTY(
        joined.size() >= base.size() + rel.size() && joined.size() <= base.size() + rel.size() + 1,
        "one UTF-16 unit per byte and at most one separator added");
    FUZZ_PROPERTY(joined.compare(0, base.size(), base) == 0, "the join starts with the base");

    const std::vector<std::u16string> baseElements = WindowsPathElements(base);
    const std::vector<std::u16string> elements = WindowsPathElements(joined);
    // The base's own trailing empty element (a trailing separator) is not a name.
    size_t common = baseElements.size();
    if (common > 0 && baseElements.back().empty()) --common;
    FUZZ_PROPERTY(elements.size() > common, "the join names something below the base");
    for (size_t i = 0; i < common; ++i)
        FUZZ_PROPERTY(elements[i] == baseElements[i], "the base's elements come first, unchanged");
    for (size_t i = common; i < elements.size(); ++i) {
        const std::u16string& name = elements[i];
        FUZZ_PROPERTY(!name.empty() && name != u"." && name != u"..",
                      "no empty, current or parent element below the base");
        FUZZ_PROPERTY(!EndsInDotOrSpace(name), "no name Windows would trim");
        FUZZ_PROPERTY(name.find(u':') == std::u16string::npos, "no stream or drive in a name");
    }

    if (!base.empty()) {
        const std::u16string normalBase = WindowsLexicallyNormal(base);
        const std::u16string normal = WindowsLexicallyNormal(joined);
        std::u16string prefix = normalBase;
        if (prefix.back() != u'\\') prefix.push_back(u'\\');
        if (normalBase.size() == 2) prefix = normalBase;  // "C:" joins as "C:rel"
        FUZZ_PROPERTY(
            normal.size() > prefix.size() && normal.compare(0, prefix.size(), prefix) == 0,
            "the normalised join stays below the normalised base");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);

    if (IsSafeRelPath(input)) {
        FUZZ_PROPERTY(input.size() >= 1 && input.size() <= 240, "1 to 240 bytes");
        size_t start = 0;
        while (true) {
            const size_t slash = input.find('/', start);
            const std::string_view part = input.substr(start, slash - start);
            FUZZ_PROPERTY(!IsReservedDeviceName(part), "no component names a device");
            for (char c : part) {
                const auto byte = static_cast<unsigned char>(c);
                FUZZ_PROPERTY(byte >= 0x20 && byte <= 0x7E, "printable ASCII only");
            }
            if (slash == std::string_view::npos) break;
            start = slash + 1;
        }
        for (std::u16string_view base : kBases) CheckBelow(base, input);
    }

    if (IsAcceptedFileUrl(input)) {
        const std::string_view name = input.substr(kFileUrlPrefix.size());
        FUZZ_PROPERTY(input.substr(0, kFileUrlPrefix.size()) == kFileUrlPrefix,
                      "a file URL starts with the files folder");
        FUZZ_PROPERTY(!name.empty() && name.size() <= 128, "a name of 1 to 128 bytes");
        FUZZ_PROPERTY(name.find_first_of("/\\?#%:") == std::string_view::npos,
                      "the name cannot reach another folder, a query or an escape");
        FUZZ_PROPERTY(name != "." && name != ".." && name.front() != '.',
                      "the name is not a dot step");
    }
    return 0;
}
