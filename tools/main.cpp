// varnok-publish: the publisher's tool for the signed update manifest.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <string>

#include "tools/publish.h"

namespace {

constexpr char kUsage[] =
    "usage:\n"
    "  varnok-publish keygen --out <private.pem> [--pub <public.hex>]\n"
    "      makes a P-256 key pair; prints the public key as the 128 hex digits that\n"
    "      VARNOK_MANIFEST_PUBLIC_KEY takes\n"
    "  varnok-publish sign --key <private.pem> --in <manifest.json> [--out <envelope.json>]\n"
    "      signs the manifest text exactly as it is and writes the server's envelope\n"
    "  varnok-publish publish --key <private.pem> --exe <client.exe> --version <v> --build <n>\n"
    "                         --out <dir> [--published-at <unix seconds>]\n"
    "      lays out <dir>/api/updates/manifest and <dir>/api/updates/files/VarnokClient-<v>.exe\n"
    "\n"
    "A key in a PKCS#11 token: in place of <private.pem> (keygen: --out) give its RFC 7512 URI,\n"
    "e.g. 'pkcs11:token=Varnok%20Release;object=manifest-2027', with\n"
    "  --pkcs11-module <module.so>  the token's PKCS#11 module\n"
    "  --pin-file <file>            the file holding the token's user PIN\n"
    "keygen then makes the key pair inside the token, never extractable, and writes only --pub.\n";

int Fail(const std::string& message) {
    std::cerr << "varnok-publish: " << message << "\n";
    return 1;
}

// "--name value" pairs; false on a stray word, a missing value, a repeat or an unknown name.
bool ParseFlags(int argc, char** argv, std::initializer_list<const char*> known,
                std::map<std::string, std::string>& flags, std::string& error) {
    for (int i = 2; i < argc; i += 2) {
        const std::string name = argv[i];
        bool isKnown = false;
        for (const char* k : known) isKnown = isKnown || name == k;
        if (!isKnown) {
            error = "unknown option " + name;
            return false;
        }
        if (i + 1 >= argc) {
            error = name + " needs a value";
            return false;
        }
        if (!flags.emplace(name, argv[i + 1]).second) {
            error = name + " given twice";
            return false;
        }
    }
    return true;
}

bool Require(const std::map<std::string, std::string>& flags,
             std::initializer_list<const char*> names, std::string& error) {
    for (const char* name : names) {
        if (!flags.count(name)) {
            error = std::string("missing ") + name;
            return false;
        }
    }
    return true;
}

bool ParseUnsigned(const std::string& text, uint64_t& value) {
    if (text.empty() || text.size() > 20) return false;
    for (char c : text)
        if (c < '0' || c > '9') return false;
    errno = 0;
    char* end = nullptr;
    value = std::strtoull(text.c_str(), &end, 10);
    return errno == 0 && *end == '\0';
}

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

int64_t UnixNow() {
    return std::chrono::duration_cast<std::chrono::seconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

std::string Optional(const std::map<std::string, std::string>& flags, const char* name) {
    const auto found = flags.find(name);
    return found == flags.end() ? std::string() : found->second;
}

int Keygen(const std::map<std::string, std::string>& flags) {
    std::string error;
    if (!Require(flags, {"--out"}, error)) return Fail(error);
    const std::string pub = flags.count("--pub") ? flags.at("--pub") : std::string();
    const std::string module = Optional(flags, "--pkcs11-module");
    const std::string pinFile = Optional(flags, "--pin-file");
    if (IsTokenUri(flags.at("--out"))) {
        // Refused before the token is touched; the new file is still created exclusively.
        std::error_code ec;
        if (!pub.empty() && std::filesystem::exists(std::filesystem::symlink_status(pub, ec)))
            return Fail("cannot create " + pub + ": an existing file is never overwritten");
        std::string publicHex;
        auto keep = [&](const std::string& hex, std::string& keepError) {
            return pub.empty() || WriteNewPublicKeyFile(pub, hex, keepError);
        };
        if (!GenerateTokenKey({flags.at("--out"), module, pinFile}, keep, publicHex, error))
            return Fail(error);
        std::cout << publicHex << "\n";
        return 0;
    }
    if (!module.empty() || !pinFile.empty())
        return Fail("--pkcs11-module and --pin-file go with a pkcs11: key, not with the file " +
                    flags.at("--out"));
    ManifestKeyPair pair;
    if (!GenerateManifestKey(pair, error) || !WriteNewKeyFiles(pair, flags.at("--out"), pub, error))
        return Fail(error);
    std::cout << pair.publicHex << "\n";
    return 0;
}

int Sign(const std::map<std::string, std::string>& flags) {
    std::string error;
    if (!Require(flags, {"--key", "--in"}, error)) return Fail(error);
    std::string manifest, envelope;
    if (!ReadWholeFile(flags.at("--in"), manifest, error)) return Fail(error);
    if (manifest.empty()) return Fail(flags.at("--in") + " is empty");
    // A signature is forever: what installers refuse today, or would take at any age, is not
    // signed at all.
    if (!CheckManifestForInstallers(manifest, UnixNow(), error))
        return Fail(flags.at("--in") + ": " + error);
    ManifestSigningKey key;
    std::string publicHex;
    if (!OpenManifestSigningKey(flags.at("--key"), Optional(flags, "--pkcs11-module"),
                                Optional(flags, "--pin-file"), key, publicHex, error))
        return Fail(error);
    if (!SignToEnvelopeWith(key, manifest, envelope, error))
        return Fail(flags.at("--key") + ": " + error);
    if (!flags.count("--out")) {
        std::cout << envelope;
        return std::cout.good() ? 0 : 1;
    }
    return WriteText(flags.at("--out"), envelope, error) ? 0 : Fail(error);
}

int Publish(const std::map<std::string, std::string>& flags) {
    std::string error;
    if (!Require(flags, {"--key", "--exe", "--version", "--build", "--out"}, error))
        return Fail(error);
    PublishRequest request;
    request.keyPath = flags.at("--key");
    request.exePath = flags.at("--exe");
    request.version = flags.at("--version");
    request.outDir = flags.at("--out");
    request.pkcs11Module = Optional(flags, "--pkcs11-module");
    request.pinFile = Optional(flags, "--pin-file");
    if (!ParseUnsigned(flags.at("--build"), request.build))
        return Fail("--build must be a decimal number, got \"" + flags.at("--build") + "\"");
    request.now = UnixNow();
    request.publishedAt = request.now;
    if (flags.count("--published-at")) {
        // The range installers accept (at most 365 days old, at most 1 day ahead) is checked
        // with the rest of their rules.
        uint64_t at = 0;
        if (!ParseUnsigned(flags.at("--published-at"), at) || at > INT64_MAX)
            return Fail("--published-at must be Unix seconds");
        request.publishedAt = static_cast<int64_t>(at);
    }
    if (!PublishClient(request, error)) return Fail(error);
    std::cout << "published " << request.outDir << "/api/updates/manifest and " << request.outDir
              << "/api/updates/files/" << PublishedFileName(request.version) << "\n";
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::cerr << kUsage;
        return 2;
    }
    const std::string command = argv[1];
    std::map<std::string, std::string> flags;
    std::string error;
    if (command == "keygen") {
        if (!ParseFlags(argc, argv, {"--out", "--pub", "--pkcs11-module", "--pin-file"}, flags,
                        error))
            return Fail(error);
        return Keygen(flags);
    }
    if (command == "sign") {
        if (!ParseFlags(argc, argv, {"--key", "--in", "--out", "--pkcs11-module", "--pin-file"},
                        flags, error))
            return Fail(error);
        return Sign(flags);
    }
    if (command == "publish") {
        if (!ParseFlags(argc, argv,
                        {"--key", "--exe", "--version", "--build", "--out", "--published-at",
                         "--pkcs11-module", "--pin-file"},
                        flags, error))
            return Fail(error);
        return Publish(flags);
    }
    if (command == "--help" || command == "-h" || command == "help") {
        std::cout << kUsage;
        return 0;
    }
    std::cerr << "varnok-publish: unknown command " << command << "\n" << kUsage;
    return 2;
}
