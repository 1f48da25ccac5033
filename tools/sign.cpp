#include "tools/sign.h"

#include "tools/key_files.h"
#include "tools/keys.h"
#include "tools/publish.h"

bool SignManifestFile(const SignRequest& request, std::string& envelope, std::string& error) {
    // The envelope goes where the publisher's only copy of the key or the manifest might be:
    // compared as files, so no spelling, hard link or symbolic link gets past it.
    const std::string& out = request.outPath;
    if (!out.empty()) {
        // A token's URI is never a file here, and never echoed whole (it may carry a PIN).
        const bool outIsKey = !IsTokenUri(request.keyPath) && IsSameFile(out, request.keyPath);
        if (outIsKey || IsSameFile(out, request.inPath)) {
            error = "--out " + out + " is the same file as " +
                    (outIsKey ? "--key " + request.keyPath : "--in " + request.inPath) +
                    "; it would be overwritten by the envelope";
            return false;
        }
        // Written through, a link would put the envelope wherever it points; replaced, it would
        // surprise whoever made it. The rename below never follows one that appears later.
        if (IsSymbolicLink(out)) {
            error = "--out " + out +
                    " is a symbolic link; the envelope is never written through a link (name "
                    "the file itself, or remove the link)";
            return false;
        }
    }
    std::string manifest;
    if (!ReadWholeFile(request.inPath, manifest, error)) return false;
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
    ManifestSigningKey key;
    std::string publicHex;
    if (!OpenManifestSigningKey(request.keyPath, request.pkcs11Module, request.pinFile, key,
                                publicHex, error))
        return false;
    if (!SignToEnvelopeWith(key, manifest, envelope, error)) {
        // A token's refusals name its URI themselves, without the values in it.
        if (key.token.uri.empty()) error = request.keyPath + ": " + error;
        return false;
    }
    return out.empty() || ReplaceFile(out, envelope, 0644, error);
}
