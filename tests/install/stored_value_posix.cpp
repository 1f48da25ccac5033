#include <fstream>
#include <iterator>

#include "common/text.h"
#include "install/registration.h"
#include "tests/install/stored_value.h"

namespace fs = std::filesystem;

namespace {

fs::path KeyFolder(std::u16string_view key) {
    fs::path folder = g_standInRegistryRoot();
    std::string rest = Utf16ToUtf8(key);
    for (size_t start = 0; start <= rest.size();) {
        const size_t end = std::min(rest.find('\\', start), rest.size());
        if (end > start) folder /= rest.substr(start, end - start);
        start = end + 1;
    }
    return folder;
}

}  // namespace

std::optional<StoredValue> ReadStoredValue(std::u16string_view key, std::u16string_view name) {
    const fs::path file = KeyFolder(key) / (name.empty() ? std::string("@") : Utf16ToUtf8(name));
    std::error_code error;
    if (!fs::is_regular_file(file, error)) return std::nullopt;
    std::ifstream in(file, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (bytes.size() < 4) return std::nullopt;
    StoredValue value;
    for (int i = 0; i < 4; ++i)
        value.type |= static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[i])) << (8 * i);
    value.data.assign(bytes.begin() + 4, bytes.end());
    return value;
}

void DeleteRegistrationTrees() {
    std::error_code ignored;
    fs::remove_all(KeyFolder(kUninstallEntryKey), ignored);
    fs::remove_all(KeyFolder(kUrlProtocolKey), ignored);
}
