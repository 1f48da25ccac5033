// The values fixed when the installer was built.
#pragma once

#include <string_view>

// https origin of the update server, no path, no trailing slash.
std::string_view BuiltInWebBaseUrl();
// The manifest signing key's public point as 128 lower-case hex digits, X then Y.
std::string_view BuiltInManifestPublicKey();
