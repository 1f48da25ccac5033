#include "tools/keygen.h"

#include "tools/key_files.h"
#include "tools/keys.h"

bool Keygen(const KeygenRequest& request, std::string& publicHex, std::string& error) {
    ManifestKeyPair pair;
    if (!GenerateManifestKey(pair, error) ||
        !WriteNewKeyFiles(pair, request.privatePath, request.publicPath, error))
        return false;
    publicHex = pair.publicHex;
    return true;
}
