#include "tools/keygen.h"

#include <filesystem>
#include <system_error>

#include "tools/key_files.h"
#include "tools/keys.h"
#include "tools/token.h"

namespace {

bool KeygenInToken(const KeygenRequest& request, std::string& publicHex, std::string& error) {
    const std::string& pub = request.publicPath;
    // Refused before the token is touched; the file is still made exclusively afterwards.
    std::error_code ec;
    if (!pub.empty() && std::filesystem::exists(std::filesystem::symlink_status(pub, ec))) {
        error = "cannot create " + pub + ": an existing file is never overwritten";
        return false;
    }
    auto keep = [&pub](const std::string& hex, std::string& keepError) {
        return pub.empty() || WriteNewPublicKeyFile(pub, hex, keepError);
    };
    return GenerateTokenKey({request.privatePath, request.pkcs11Module, request.pinFile}, keep,
                            publicHex, error);
}

}  // namespace

bool Keygen(const KeygenRequest& request, std::string& publicHex, std::string& error) {
    if (IsTokenUri(request.privatePath)) return KeygenInToken(request, publicHex, error);
    if (!request.pkcs11Module.empty() || !request.pinFile.empty()) {
        error = "--pkcs11-module and --pin-file go with a pkcs11: key, not with the file " +
                request.privatePath;
        return false;
    }
    ManifestKeyPair pair;
    if (!GenerateManifestKey(pair, error) ||
        !WriteNewKeyFiles(pair, request.privatePath, request.publicPath, error))
        return false;
    publicHex = pair.publicHex;
    return true;
}
