// Feeds arbitrary bytes to the manifest check: once as a whole response body, and once as an
// already signature-checked manifest text, so the content rules see hostile input too.
#include <cstddef>
#include <cstdint>
#include <string>

#include <nlohmann/json.hpp>

#include "common/build_info.h"
#include "manifest/update_manifest.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const char* body = reinterpret_cast<const char*>(data);
    const std::string_view key = BuiltInManifestPublicKey();
    UpdateManifest manifest;
    VerifyUpdateManifest(body, size, 0, 0, "/nonexistent-varnok-fuzz/", manifest, key.data(),
                         key.size(), 0, 1800000000);

    const nlohmann::json parsed = nlohmann::json::parse(body, body + size, nullptr, false, false);
    if (!parsed.is_discarded()) {
        UpdateManifest record;
        try {
            ApplyManifestRules(parsed, record, 5, 5, "/nonexistent-varnok-fuzz", 100, 1800000000);
        } catch (const nlohmann::json::type_error&) {
        }
    }
    IsSafeRelPath(std::string_view(body, size));
    IsAcceptedFileUrl(std::string_view(body, size));
    return 0;
}
