// varnok-publish: the publisher's tool for the signed update manifest. This file only wires each
// verb's options to the call that does its work.
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>

#include "tools/check.h"
#include "tools/keygen.h"
#include "tools/prune.h"
#include "tools/publish.h"
#include "tools/push.h"
#include "tools/sign.h"
#include "tools/token.h"
#include "tools/verify.h"

namespace {

int Fail(const std::string& message) {
    std::cerr << "varnok-publish: " << message << "\n";
    return 1;
}

// Digits only: strtoull alone would take "-1", "+1" and " 1".
bool ParseUnsigned(const std::string& text, uint64_t& value) {
    if (text.empty() || text.size() > 20) return false;
    for (char c : text)
        if (c < '0' || c > '9') return false;
    errno = 0;
    char* end = nullptr;
    value = std::strtoull(text.c_str(), &end, 10);
    return errno == 0 && *end == '\0';
}

int64_t UnixNow() {
    return std::chrono::duration_cast<std::chrono::seconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

// A refused command line names what was wrong and shows the usage of the verb it was meant for.
// A mistyped word is named first: the parser would otherwise report only a required option or
// verb that the typo left out.
std::string UsageFailure(const CLI::App* app, const CLI::Error& e) {
    std::string what = e.what();
    const std::vector<std::string> unknown = app->remaining(true);
    if (!unknown.empty()) {
        // A URI (perhaps with a PIN in it) is named without its values.
        const std::string word =
            IsTokenUri(unknown.front()) ? ShownTokenUri(unknown.front()) : unknown.front();
        what = app->get_subcommands().empty() ? "unknown command " + word
               : word.rfind('-', 0) == 0      ? "unknown option " + word
                                              : "unexpected argument " + word;
    }
    return "varnok-publish: " + what + "\n\n" + app->help();
}

// What each verb that takes a private key also takes when the key is a pkcs11: URI.
void AddTokenOptions(CLI::App* verb, std::string& modulePath, std::string& pinFile) {
    verb->add_option("--pkcs11-module", modulePath,
                     "with a pkcs11: key: the token's PKCS#11 module")
        ->type_name("<module.so>");
    verb->add_option("--pin-file", pinFile,
                     "with a pkcs11: key: the file holding the token's user PIN (one trailing "
                     "newline is not part of it); never give the PIN itself")
        ->type_name("<file>");
}

void AddKeygen(CLI::App& app, int& status) {
    auto request = std::make_shared<KeygenRequest>();
    CLI::App* verb = app.add_subcommand(
        "keygen",
        "Makes a P-256 key pair: the private key as PKCS#8 PEM (mode 0600), the public key "
        "printed as the 128 hex digits that VARNOK_MANIFEST_PUBLIC_KEY takes. Both files are made "
        "new; an existing file or a link in their place is refused. Given a pkcs11: URI, the pair "
        "is made inside the token, never extractable, and only --pub is written; a label the "
        "token already holds is refused.");
    verb->add_option("--out", request->privatePath,
                     "the new private key: a PEM file, or the pkcs11: URI (RFC 7512) of a new key "
                     "in a token, e.g. 'pkcs11:token=Varnok%20Release;object=manifest-2027'")
        ->required()
        ->type_name("<private.pem | pkcs11:URI>");
    verb->add_option("--pub", request->publicPath, "also write the public hex here")
        ->type_name("<public.hex>");
    AddTokenOptions(verb, request->pkcs11Module, request->pinFile);
    verb->callback([request, &status] {
        std::string publicHex, error;
        if (!Keygen(*request, publicHex, error)) {
            status = Fail(error);
            return;
        }
        std::cout << publicHex << "\n";
        status = std::cout.good() ? 0 : 1;
    });
}

void AddSign(CLI::App& app, int& status) {
    auto request = std::make_shared<SignRequest>();
    CLI::App* verb = app.add_subcommand(
        "sign",
        "Signs the manifest text exactly as it is in the file and writes the server's envelope. "
        "What an installer would refuse now is refused, with the rule's code.");
    verb->add_option("--key", request->keyPath,
                     "the manifest private key: a PEM file, or the pkcs11: URI of a key in a token")
        ->required()
        ->type_name("<private.pem | pkcs11:URI>");
    AddTokenOptions(verb, request->pkcs11Module, request->pinFile);
    verb->add_option("--in", request->inPath, "the manifest text")
        ->required()
        ->type_name("<manifest.json>");
    verb->add_option("--out", request->outPath, "the envelope (default: standard output)")
        ->type_name("<envelope.json>");
    verb->callback([request, &status] {
        request->now = UnixNow();
        std::string envelope, error;
        if (!SignManifestFile(*request, envelope, error)) {
            status = Fail(error);
            return;
        }
        if (request->outPath.empty()) std::cout << envelope;
        status = std::cout.good() ? 0 : 1;
    });
}

void AddPublish(CLI::App& app, int& status) {
    struct Options {
        PublishRequest request;
        std::string build, publishedAt;
    };
    auto options = std::make_shared<Options>();
    CLI::App* verb = app.add_subcommand(
        "publish",
        "Lays out <dir>/api/updates/manifest and "
        "<dir>/api/updates/files/VarnokClient-<v>-<first 16 hex digits of its SHA-256>.exe: the "
        "client and the signed manifest that names it. A payload once published is never "
        "replaced or removed (see prune).");
    verb->add_option("--key", options->request.keyPath,
                     "the manifest private key: a PEM file, or the pkcs11: URI of a key in a token")
        ->required()
        ->type_name("<private.pem | pkcs11:URI>");
    AddTokenOptions(verb, options->request.pkcs11Module, options->request.pinFile);
    verb->add_option("--exe", options->request.exePath, "the client executable")
        ->required()
        ->type_name("<client.exe>");
    verb->add_option("--version", options->request.version, "launcher_version")
        ->required()
        ->type_name("<v>");
    verb->add_option("--build", options->build, "launcher_build, 1 or more")
        ->required()
        ->type_name("<n>");
    verb->add_option("--out", options->request.outDir, "the root of the update tree")
        ->required()
        ->type_name("<dir>");
    verb->add_option("--published-at", options->publishedAt,
                     "published_at (default: now); installers accept 365 days ago to 1 day ahead")
        ->type_name("<unix seconds>");
    verb->callback([options, &status] {
        PublishRequest& request = options->request;
        if (!ParseUnsigned(options->build, request.build)) {
            status = Fail("--build must be a decimal number, got \"" + options->build + "\"");
            return;
        }
        request.now = UnixNow();
        request.publishedAt = request.now;
        if (!options->publishedAt.empty()) {
            // The range installers accept is checked with the rest of their rules.
            uint64_t at = 0;
            if (!ParseUnsigned(options->publishedAt, at) || at > INT64_MAX) {
                status = Fail("--published-at must be Unix seconds");
                return;
            }
            request.publishedAt = static_cast<int64_t>(at);
        }
        std::string error, served;
        if (!PublishClient(request, error, &served)) {
            status = Fail(error);
            return;
        }
        std::cout << "published " << request.outDir << "/api/updates/manifest and "
                  << request.outDir << "/api/updates/files/" << served << "\n";
        status = std::cout.good() ? 0 : 1;
    });
}

void AddCheck(CLI::App& app, int& status) {
    auto request = std::make_shared<CheckRequest>();
    CLI::App* verb = app.add_subcommand(
        "check",
        "Checks an update tree on disk as installers built with the given key would: the signed "
        "manifest with the installer's own verifier at the current time, and the payload it "
        "names with its size and SHA-256. A tree signed by another key is refused with the first "
        "bytes of both keys.");
    verb->add_option("--tree", request->treeDir, "the root of the update tree")
        ->required()
        ->type_name("<dir>");
    verb->add_option("--pub", request->publicKey,
                     "the manifest public key: 128 hex digits, or a file holding them")
        ->required()
        ->type_name("<hex or file>");
    verb->callback([request, &status] {
        request->now = UnixNow();
        std::string summary, error;
        if (!CheckUpdateTree(*request, summary, error)) {
            status = Fail(error);
            return;
        }
        std::cout << summary << "\n";
        status = std::cout.good() ? 0 : 1;
    });
}

void AddPrune(CLI::App& app, int& status) {
    struct Options {
        PruneRequest request;
        std::string keep, minAge;
    };
    auto options = std::make_shared<Options>();
    CLI::App* verb = app.add_subcommand(
        "prune",
        "Removes the payloads that publish recorded and that neither the current manifest nor "
        "the newest <N> versions name, once their manifest was replaced at least --min-age "
        "seconds ago. The current manifest's payload always stays; files the history does not "
        "know are never touched.");
    verb->add_option("--tree", options->request.treeDir, "the root of the update tree")
        ->required()
        ->type_name("<dir>");
    verb->add_option("--keep", options->keep, "how many of the newest versions keep their payloads")
        ->required()
        ->type_name("<N>");
    verb->add_option("--min-age", options->minAge,
                     "seconds a payload stays after its manifest was replaced (default 3600): "
                     "edges may serve that manifest for its lifetime and their grace")
        ->type_name("<seconds>");
    verb->callback([options, &status] {
        if (!ParseUnsigned(options->keep, options->request.keep)) {
            status = Fail("--keep must be a decimal number, got \"" + options->keep + "\"");
            return;
        }
        if (!options->minAge.empty() && !ParseUnsigned(options->minAge, options->request.minAge)) {
            status = Fail("--min-age must be a number of seconds, got \"" + options->minAge + "\"");
            return;
        }
        std::vector<std::string> removed, kept;
        std::string error;
        if (!PruneTree(options->request, removed, kept, error)) {
            status = Fail(error);
            return;
        }
        for (const std::string& name : removed) std::cout << "removed " << name << "\n";
        for (const std::string& name : kept) std::cout << "kept " << name << "\n";
        status = std::cout.good() ? 0 : 1;
    });
}

void AddVerify(CLI::App& app, int& status) {
    struct Options {
        VerifyRequest request;
        std::string pub;
    };
    auto options = std::make_shared<Options>();
    CLI::App* verb = app.add_subcommand(
        "verify",
        "Fetches the served manifest and the client it names as installers do (GET, their user "
        "agent, no redirects, status 200 only, their limits and time-outs), checks them with the "
        "installer's verifier and judges how caches may keep them; then fetches "
        "VarnokClientSetup.exe.sha256 and VarnokClientSetup.exe the same way and checks that the "
        "digest names those bytes and that both carry the served-paths table's headers. One PASS "
        "or FAIL line per check; exit 0 only when all hold.");
    verb->add_option("url", options->request.baseUrl, "the base URL installers are built for")
        ->required()
        ->type_name("<base URL>");
    verb->add_option("--pub", options->pub,
                     "the manifest public key: the file keygen --pub wrote, or its 128 hex digits")
        ->required()
        ->type_name("<public.hex>");
    verb->add_option("--ca-file", options->request.caFile,
                     "trust this CA (PEM) in place of the system's roots")
        ->type_name("<pem>");
    verb->add_option("--installer-version", options->request.installerVersion,
                     "also check VarnokClientSetup-<version>.exe (what winget downloads): served "
                     "immutable, with the digest VarnokClientSetup.exe.sha256 names")
        ->type_name("<version>");
    verb->callback([options, &status] {
        std::string error;
        if (!ReadPublicKeyHex(options->pub, options->request.publicKey, error)) {
            status = Fail(error);
            return;
        }
        curl_global_init(CURL_GLOBAL_DEFAULT);
        status = VerifyServedTree(options->request, std::cout) ? 0 : 1;
        curl_global_cleanup();
    });
}

void AddPush(CLI::App& app, int& status) {
    auto request = std::make_shared<PushRequest>();
    CLI::App* verb = app.add_subcommand(
        "push",
        "Uploads a checked update tree to S3-compatible object storage in the order that keeps "
        "installs working throughout: the payloads (never replacing one), the versioned "
        "installer copies, VarnokClientSetup.exe and its .sha256, the manifest last. Each object "
        "gets the Content-Type and Cache-Control the update server gives its path. Credentials "
        "come from AWS_ACCESS_KEY_ID, AWS_SECRET_ACCESS_KEY and AWS_SESSION_TOKEN, else from the "
        "AWS_PROFILE profile of ~/.aws/credentials (AWS_SHARED_CREDENTIALS_FILE).");
    verb->add_option("--tree", request->treeDir, "the root of the update tree")
        ->required()
        ->type_name("<dir>");
    verb->add_option("--to", request->to, "the bucket, and a prefix to put before every key")
        ->required()
        ->type_name("s3://<bucket>[/<prefix>]");
    verb->add_option("--endpoint", request->endpoint,
                     "the store's URL, e.g. https://s3.eu-central-1.amazonaws.com (default: "
                     "AWS_ENDPOINT_URL_S3, else AWS_ENDPOINT_URL)")
        ->type_name("<URL>");
    verb->add_option("--region", request->region,
                     "the signing region (default: AWS_REGION, AWS_DEFAULT_REGION, the profile's "
                     "region in ~/.aws/config (AWS_CONFIG_FILE), else us-east-1)")
        ->type_name("<region>");
    verb->add_flag("--virtual-host", request->virtualHost,
                   "address the bucket as <bucket>.<endpoint host> in place of <host>/<bucket>");
    verb->add_option("--pub", request->publicKey,
                     "check the signature against the key installers are built with: 128 hex "
                     "digits or the keygen --pub file")
        ->required()
        ->type_name("<public.hex>");
    verb->add_flag("--allow-http", request->allowHttp,
                   "take an http:// endpoint that is not a loopback address (the signed requests "
                   "and any session token then cross the network in clear)");
    verb->add_flag("--dry-run", request->dryRun,
                   "list the objects in upload order with what would happen to each; the bucket "
                   "is only asked (HEAD, and GET to read an object back), never written");
    verb->add_option("--verify", request->verifyUrl,
                     "afterwards run verify against the public base URL installers reach")
        ->type_name("<base URL>");
    verb->add_option("--ca-file", request->caFile,
                     "trust this CA (PEM) for the store and verify in place of the system's roots")
        ->type_name("<pem>");
    verb->callback([request, &status] {
        request->now = UnixNow();
        curl_global_init(CURL_GLOBAL_DEFAULT);
        std::string error;
        const bool pushed = PushTree(*request, std::cout, error);
        curl_global_cleanup();
        status = pushed ? 0 : Fail(error);
    });
}

}  // namespace

int main(int argc, char** argv) {
    CLI::App app("The publisher's tool for the signed update manifest.", "varnok-publish");
    app.set_version_flag("--version", "varnok-publish " VARNOK_TOOL_VERSION);
    app.require_subcommand(1);
    app.failure_message(&UsageFailure);
    int status = 1;
    AddKeygen(app, status);
    AddSign(app, status);
    AddPublish(app, status);
    AddCheck(app, status);
    AddPrune(app, status);
    AddVerify(app, status);
    AddPush(app, status);
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        // --help and --version end here too, with 0; a command line that cannot be run is 2.
        return app.exit(e) == 0 ? 0 : 2;
    }
    return status;
}
