#include "common/build_info.h"

#include "build_config.h"

std::string_view BuiltInWebBaseUrl() {
    return build_config::kWebBaseUrl;
}
std::string_view BuiltInManifestPublicKey() {
    return build_config::kManifestPublicKeyHex;
}
