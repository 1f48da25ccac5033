#include "tools/sign.h"

#include <fstream>

#include "tools/key_files.h"
#include "tools/keys.h"
#include "tools/publish.h"

namespace {

bool WriteText(const std::string& path, const std::string& text, std::string& error) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
    out.close();
    if (!out) {
        error = "cannot write " + path;
        return false;
    }
    return true;
}

}  // namespace

bool SignManifestFile(const SignRequest& request, std::string& envelope, std::string& error) {
    std::string pem, manifest;
    if (!ReadWholeFile(request.keyPath, pem, error) ||
        !ReadWholeFile(request.inPath, manifest, error))
        return false;
    if (manifest.empty()) {
        error = request.inPath + " is empty";
        return false;
    }
    // A signature is forever: what installers refuse today, or would take at any age, is not
    // signed at all.
    if (!CheckManifestForInstallers(manifest, request.now, error)) {
        error = request.inPath + ": " + error;
        return false;
    }
    if (!SignToEnvelope(pem, manifest, envelope, error)) {
        error = request.keyPath + ": " + error;
        return false;
    }
    return request.outPath.empty() || WriteText(request.outPath, envelope, error);
}
