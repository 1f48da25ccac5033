#include "tools/publish.h"

#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/ec.h>
#include <openssl/evp.h>
#include <openssl/hmac.h>
#include <openssl/obj_mac.h>
#include <openssl/pem.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <system_error>
#include <vector>

#include <nlohmann/json.hpp>

#include "common/scope_exit.h"
#include "common/scoped_override.h"
#include "common/text.h"
#include "manifest/sha256.h"
#include "manifest/update_manifest.h"

namespace fs = std::filesystem;

namespace {

template <typename T, void (*Free)(T*)>
struct Deleter {
    void operator()(T* p) const { Free(p); }
};
using PkeyPtr = std::unique_ptr<EVP_PKEY, Deleter<EVP_PKEY, &EVP_PKEY_free>>;
using BioPtr = std::unique_ptr<BIO, Deleter<BIO, &BIO_free_all>>;
using BnPtr = std::unique_ptr<BIGNUM, Deleter<BIGNUM, &BN_clear_free>>;
using BnCtxPtr = std::unique_ptr<BN_CTX, Deleter<BN_CTX, &BN_CTX_free>>;
using GroupPtr = std::unique_ptr<EC_GROUP, Deleter<EC_GROUP, &EC_GROUP_free>>;
using PointPtr = std::unique_ptr<EC_POINT, Deleter<EC_POINT, &EC_POINT_free>>;

// An encrypted key must fail rather than prompt on the terminal.
int NoPassword(char*, int, int, void*) {
    return 0;
}

PkeyPtr LoadP256PrivateKey(std::string_view pem, std::string& error) {
    BioPtr bio(BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size())));
    PkeyPtr key(bio ? PEM_read_bio_PrivateKey(bio.get(), nullptr, &NoPassword, nullptr) : nullptr);
    char group[32] = {};
    size_t groupLength = 0;
    if (!key || !EVP_PKEY_is_a(key.get(), "EC") ||
        EVP_PKEY_get_utf8_string_param(key.get(), OSSL_PKEY_PARAM_GROUP_NAME, group, sizeof(group),
                                       &groupLength) != 1 ||
        std::string_view(group) != "prime256v1") {
        error = "not an unencrypted PEM P-256 private key";
        return nullptr;
    }
    return key;
}

bool PublicHexOf(EVP_PKEY* key, std::string& publicHex, std::string& error) {
    unsigned char point[65];
    size_t length = 0;
    if (EVP_PKEY_get_octet_string_param(key, OSSL_PKEY_PARAM_PUB_KEY, point, sizeof(point),
                                        &length) != 1 ||
        length != 65 || point[0] != 0x04) {
        error = "the key has no uncompressed public point";
        return false;
    }
    static constexpr char kDigits[] = "0123456789abcdef";
    publicHex.clear();
    for (size_t i = 1; i < 65; ++i) {
        publicHex.push_back(kDigits[point[i] >> 4]);
        publicHex.push_back(kDigits[point[i] & 0x0F]);
    }
    return true;
}

std::string HexOf(const unsigned char* bytes, size_t count) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string hex;
    for (size_t i = 0; i < count; ++i) {
        hex.push_back(kDigits[bytes[i] >> 4]);
        hex.push_back(kDigits[bytes[i] & 0x0F]);
    }
    return hex;
}

// A file made for this call alone: an existing file, or a link where the file would be, is never
// opened.
int CreateNewFile(const std::string& path, mode_t mode, std::string& error) {
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
    if (fd < 0) {
        const int code = errno;
        error = "cannot create " + path + ": " + std::strerror(code);
        if (code == EEXIST) error += "; an existing file is never overwritten";
        return -1;
    }
    // The umask may only have narrowed the mode; make it exact.
    if (fchmod(fd, mode) != 0) {
        error = "cannot set the mode of " + path + ": " + std::strerror(errno);
        close(fd);
        unlink(path.c_str());
        return -1;
    }
    return fd;
}

bool WriteAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t done = write(fd, bytes.data(), bytes.size());
        if (done < 0 && errno == EINTR) continue;
        if (done <= 0) return false;
        bytes.remove_prefix(static_cast<size_t>(done));
    }
    return true;
}

// Writes, flushes to the disk and closes; the descriptor is closed on every path.
bool FinishFile(int fd, std::string_view bytes) {
    const bool written = WriteAll(fd, bytes) && fsync(fd) == 0;
    return close(fd) == 0 && written;
}

// `bytes` as a new file, complete on disk before it is ever renamed into view.
bool WriteNewFile(const std::string& path, std::string_view bytes, mode_t mode,
                  std::string& error) {
    const int fd = CreateNewFile(path, mode, error);
    if (fd < 0) return false;
    if (!FinishFile(fd, bytes)) {
        error = "cannot write " + path + ": " + std::strerror(errno);
        unlink(path.c_str());
        return false;
    }
    return true;
}

bool CopyToNewFile(const std::string& from, const std::string& to, std::string& error) {
    const int in = open(from.c_str(), O_RDONLY | O_CLOEXEC);
    if (in < 0) {
        error = "cannot read " + from + ": " + std::strerror(errno);
        return false;
    }
    const int out = CreateNewFile(to, 0644, error);
    if (out < 0) {
        close(in);
        return false;
    }
    std::vector<char> buffer(1 << 16);
    bool ok = true;
    for (;;) {
        const ssize_t got = read(in, buffer.data(), buffer.size());
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) ok = false;
        if (got <= 0) break;
        if (!WriteAll(out, std::string_view(buffer.data(), static_cast<size_t>(got)))) {
            ok = false;
            break;
        }
    }
    close(in);
    if (!FinishFile(out, {}) || !ok) {
        error = "cannot copy " + from + " to " + to;
        unlink(to.c_str());
        return false;
    }
    return true;
}

FileKind NothingInstalled(const std::u16string&) {
    return FileKind::missing;
}

}  // namespace

bool ReadWholeFile(const std::string& path, std::string& bytes, std::string& error) {
    std::error_code ec;
    if (!fs::is_regular_file(path, ec)) {
        error = "cannot read " + path + ": not a regular file";
        return false;
    }
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error = "cannot read " + path + ": " + std::strerror(errno);
        return false;
    }
    bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    if (in.bad()) {
        error = "cannot read " + path;
        return false;
    }
    return true;
}

bool GenerateManifestKey(ManifestKeyPair& pair, std::string& error) {
    PkeyPtr key(EVP_PKEY_Q_keygen(nullptr, nullptr, "EC", "P-256"));
    if (!key) {
        error = "key generation failed";
        return false;
    }
    BioPtr bio(BIO_new(BIO_s_mem()));
    if (!bio || PEM_write_bio_PrivateKey(bio.get(), key.get(), nullptr, nullptr, 0, nullptr,
                                         nullptr) != 1) {
        error = "cannot encode the private key";
        return false;
    }
    char* data = nullptr;
    const long length = BIO_get_mem_data(bio.get(), &data);
    pair.privatePem.assign(data, static_cast<size_t>(length));
    return PublicHexOf(key.get(), pair.publicHex, error);
}

bool PublicKeyHexFromPem(std::string_view privatePem, std::string& publicHex, std::string& error) {
    PkeyPtr key = LoadP256PrivateKey(privatePem, error);
    return key && PublicHexOf(key.get(), publicHex, error);
}

bool SignManifestText(std::string_view privatePem, std::string_view message,
                      std::string& signatureHex, std::string& error) {
    PkeyPtr key = LoadP256PrivateKey(privatePem, error);
    if (!key) return false;
    std::string publicHex;
    if (!PublicHexOf(key.get(), publicHex, error)) return false;

    BIGNUM* rawD = nullptr;
    if (EVP_PKEY_get_bn_param(key.get(), OSSL_PKEY_PARAM_PRIV_KEY, &rawD) != 1) {
        error = "cannot read the private scalar";
        return false;
    }
    BnPtr d(rawD);
    unsigned char dBytes[32];
    if (BN_bn2binpad(d.get(), dBytes, 32) != 32) {
        error = "the private scalar is out of range";
        return false;
    }

    Sha256Hasher hasher;
    hasher.Open();
    unsigned char digest[32];
    if (!hasher.ready || (!message.empty() && !hasher.Update(message.data(), message.size())) ||
        !hasher.FinishRaw(digest)) {
        error = "SHA-256 failed";
        return false;
    }

    GroupPtr group(EC_GROUP_new_by_curve_name(NID_X9_62_prime256v1));
    BnCtxPtr ctx(BN_CTX_new());
    if (!group || !ctx) {
        error = "out of memory";
        return false;
    }
    const BIGNUM* n = EC_GROUP_get0_order(group.get());
    BnPtr z(BN_bin2bn(digest, 32, nullptr));
    BnPtr k(BN_new()), kinv(BN_new()), x(BN_new()), r(BN_new()), s(BN_new()), t(BN_new());
    PointPtr point(EC_POINT_new(group.get()));
    if (!z || !k || !kinv || !x || !r || !s || !t || !point) {
        error = "out of memory";
        return false;
    }
    BN_set_flags(k.get(), BN_FLG_CONSTTIME);
    // The nonce is HMAC-SHA256(d, digest || counter), drawn again until it lies in [1, n-1] and
    // gives non-zero r and s.
    for (uint32_t counter = 0; counter < 64; ++counter) {
        unsigned char input[36];
        memcpy(input, digest, 32);
        for (int i = 0; i < 4; ++i)
            input[32 + i] = static_cast<unsigned char>(counter >> (24 - 8 * i));
        unsigned char nonce[32];
        unsigned int nonceLength = 0;
        if (!HMAC(EVP_sha256(), dBytes, 32, input, sizeof(input), nonce, &nonceLength) ||
            nonceLength != 32)
            break;
        if (!BN_bin2bn(nonce, 32, k.get())) break;
        OPENSSL_cleanse(nonce, sizeof(nonce));
        if (BN_is_zero(k.get()) || BN_cmp(k.get(), n) >= 0) continue;
        if (EC_POINT_mul(group.get(), point.get(), k.get(), nullptr, nullptr, ctx.get()) != 1 ||
            EC_POINT_get_affine_coordinates(group.get(), point.get(), x.get(), nullptr,
                                            ctx.get()) != 1 ||
            BN_nnmod(r.get(), x.get(), n, ctx.get()) != 1)
            break;
        if (BN_is_zero(r.get())) continue;
        if (!BN_mod_inverse(kinv.get(), k.get(), n, ctx.get()) ||
            BN_mod_mul(t.get(), r.get(), d.get(), n, ctx.get()) != 1 ||
            BN_mod_add(t.get(), t.get(), z.get(), n, ctx.get()) != 1 ||
            BN_mod_mul(s.get(), kinv.get(), t.get(), n, ctx.get()) != 1)
            break;
        if (BN_is_zero(s.get())) continue;
        unsigned char signature[64];
        if (BN_bn2binpad(r.get(), signature, 32) != 32 ||
            BN_bn2binpad(s.get(), signature + 32, 32) != 32)
            break;
        OPENSSL_cleanse(dBytes, sizeof(dBytes));
        signatureHex = HexOf(signature, sizeof(signature));
        // The installer's own check must accept what is published.
        if (!VerifyManifestSignature(message, signatureHex, publicHex)) {
            error = "the new signature does not verify";
            return false;
        }
        return true;
    }
    OPENSSL_cleanse(dBytes, sizeof(dBytes));
    error = "signing failed";
    return false;
}

bool MakeEnvelope(std::string_view manifestText, std::string_view signatureHex,
                  std::string& envelope, std::string& error) {
    nlohmann::ordered_json value;
    value["ok"] = true;
    value["manifest_json"] = std::string(manifestText);
    value["signature_hex"] = std::string(signatureHex);
    try {
        envelope = value.dump(2) + "\n";
    } catch (const nlohmann::json::exception&) {
        error = "the manifest text is not valid UTF-8";
        return false;
    }
    return true;
}

bool SignToEnvelope(std::string_view privatePem, std::string_view manifestText,
                    std::string& envelope, std::string& error) {
    std::string signature;
    return SignManifestText(privatePem, manifestText, signature, error) &&
           MakeEnvelope(manifestText, signature, envelope, error);
}

std::string PublishedFileName(std::string_view version) {
    return "VarnokClient-" + std::string(version) + ".exe";
}

std::string MakeLauncherManifest(const PublishRequest& request, std::string_view fileName,
                                 std::string_view sha256, uint64_t sizeBytes) {
    nlohmann::ordered_json launcher;
    launcher["file_id"] = "varnok-client";
    launcher["rel_path"] = "VarnokClient.exe";
    launcher["url"] = std::string(kFileUrlPrefix) + std::string(fileName);
    launcher["sha256"] = std::string(sha256);
    launcher["size_bytes"] = sizeBytes;
    launcher["required"] = true;
    nlohmann::ordered_json manifest;
    manifest["schema_version"] = 1;
    manifest["launcher_build"] = request.build;
    manifest["launcher_version"] = request.version;
    manifest["game_build"] = 0;
    manifest["game_version"] = "";
    manifest["published_at"] = request.publishedAt;
    manifest["notes_en"] = "";
    manifest["notes_ru"] = "";
    manifest["launcher"] = launcher;
    return manifest.dump(2);
}

bool WriteNewKeyFiles(const ManifestKeyPair& pair, const std::string& privatePath,
                      const std::string& publicPath, std::string& error) {
    if (privatePath.empty()) {
        error = "no path for the private key";
        return false;
    }
    std::error_code ec;
    if (!publicPath.empty() &&
        (privatePath == publicPath || fs::absolute(privatePath, ec).lexically_normal() ==
                                          fs::absolute(publicPath, ec).lexically_normal())) {
        error = "--out and --pub name the same file; the public key would replace the private one";
        return false;
    }
    // Both files are claimed before either is written, so a second one that cannot be made
    // leaves no lone private key whose public half nobody recorded.
    const int privateFd = CreateNewFile(privatePath, 0600, error);
    if (privateFd < 0) return false;
    int publicFd = -1;
    if (!publicPath.empty()) {
        publicFd = CreateNewFile(publicPath, 0644, error);
        if (publicFd < 0) {
            close(privateFd);
            unlink(privatePath.c_str());
            return false;
        }
    }
    const bool privateOk = FinishFile(privateFd, pair.privatePem);
    const bool publicOk = publicFd < 0 || FinishFile(publicFd, pair.publicHex + "\n");
    if (privateOk && publicOk) return true;
    error = "cannot write " + (privateOk ? publicPath : privatePath);
    unlink(privatePath.c_str());
    if (publicFd >= 0) unlink(publicPath.c_str());
    return false;
}

bool CheckManifestForInstallers(std::string_view manifestText, int64_t now, std::string& error) {
    UpdateManifest record;
    std::string code;
    try {
        const nlohmann::json value =
            nlohmann::json::parse(manifestText.begin(), manifestText.end(), nullptr, true, false);
        // Installers compare game files with what their folder holds; here nothing is installed,
        // and no local file is read.
        ScopedOverride<FileKind (*)(const std::u16string&)> nothing(g_fileKindFollow,
                                                                    &NothingInstalled);
        if (!ApplyManifestRules(value, record, 0, 0, "", 0, now)) code = record.errorCode;
    } catch (...) {
        code = "manifest_parse_failed";
    }
    if (!code.empty()) {
        error = "every installer would refuse this manifest (" + code + ")";
        return false;
    }
    if (record.published_at <= 0) {
        error =
            "the manifest needs a positive published_at (invalid_published_at): without one "
            "installers take it at any age, so it could be replayed forever";
        return false;
    }
    if (!record.launcher) {
        error =
            "the manifest has no launcher object, so installers have nothing to install "
            "(missing_launcher_entry)";
        return false;
    }
    return true;
}

bool OpenManifestSigningKey(const std::string& keyArgument, const std::string& modulePath,
                            const std::string& pinFile, ManifestSigningKey& key,
                            std::string& publicHex, std::string& error) {
    if (IsTokenUri(keyArgument)) {
        key.token = {keyArgument, modulePath, pinFile};
        return TokenPublicKeyHex(key.token, publicHex, error);
    }
    if (!modulePath.empty() || !pinFile.empty()) {
        error = "--pkcs11-module and --pin-file go with a pkcs11: key, not with the file " +
                keyArgument;
        return false;
    }
    if (!ReadWholeFile(keyArgument, key.pem, error)) return false;
    if (!PublicKeyHexFromPem(key.pem, publicHex, error)) {
        error = keyArgument + ": " + error;
        return false;
    }
    return true;
}

bool SignToEnvelopeWith(const ManifestSigningKey& key, std::string_view manifestText,
                        std::string& envelope, std::string& error) {
    if (key.token.uri.empty()) return SignToEnvelope(key.pem, manifestText, envelope, error);
    std::string signature;
    return TokenSignManifestText(key.token, manifestText, signature, error) &&
           MakeEnvelope(manifestText, signature, envelope, error);
}

bool WriteNewPublicKeyFile(const std::string& path, const std::string& publicHex,
                           std::string& error) {
    return WriteNewFile(path, publicHex + "\n", 0644, error);
}

bool (*g_signToEnvelope)(const ManifestSigningKey& key, std::string_view manifestText,
                         std::string& envelope, std::string& error) = &SignToEnvelopeWith;

bool PublishClient(const PublishRequest& request, std::string& error) {
    const std::string fileName = PublishedFileName(request.version);
    if (request.version.empty() || !IsAcceptedFileUrl(std::string(kFileUrlPrefix) + fileName)) {
        error = "version \"" + request.version + "\" gives the file name \"" + fileName +
                "\", which the installer refuses (allowed: A-Z a-z 0-9 . _ -, at most 128 "
                "characters, no \"..\")";
        return false;
    }
    if (request.build == 0) {
        error = "the build must be 1 or more";
        return false;
    }
    if (request.publishedAt <= 0) {
        error = "published_at must be a positive Unix time";
        return false;
    }
    ManifestSigningKey key;
    if (std::string publicHex; !OpenManifestSigningKey(request.keyPath, request.pkcs11Module,
                                                       request.pinFile, key, publicHex, error))
        return false;

    std::error_code ec;
    if (!fs::is_regular_file(request.exePath, ec)) {
        error = "cannot read " + request.exePath + ": not a regular file";
        return false;
    }
    const uintmax_t size = fs::file_size(request.exePath, ec);
    if (ec) {
        error = "cannot read " + request.exePath + ": " + ec.message();
        return false;
    }
    if (size < 1 || size > kMaxManifestFileBytes) {
        error = request.exePath + " is " + std::to_string(size) +
                " bytes; the installer accepts 1 to 268435456 bytes";
        return false;
    }
    // Everything but the digest is known now: a manifest installers would refuse (a published_at
    // they take as stale or future) stops the publish before the tree is touched.
    if (!CheckManifestForInstallers(
            MakeLauncherManifest(request, fileName, std::string(64, '0'), size), request.now,
            error))
        return false;

    const fs::path updates = fs::path(request.outDir) / "api" / "updates";
    const fs::path files = updates / "files";
    fs::create_directories(files, ec);
    if (ec) {
        error = "cannot create " + files.string() + ": " + ec.message();
        return false;
    }
    // Temporary names start with a dot, which no manifest may name, and carry the process id so
    // that two publishers never share one.
    const std::string suffix = "." + std::to_string(getpid()) + ".tmp";
    const fs::path served = files / fileName;
    const fs::path servedTemp = files / ("." + fileName + suffix);
    const fs::path manifestPath = updates / "manifest";
    const fs::path manifestTemp = updates / (".manifest" + suffix);
    fs::remove(servedTemp, ec);
    fs::remove(manifestTemp, ec);
    ScopeExit cleanUp([&] {
        std::error_code ignored;
        fs::remove(servedTemp, ignored);
        fs::remove(manifestTemp, ignored);
    });

    // The copy is what gets hashed, so the manifest describes exactly the bytes that are served.
    if (!CopyToNewFile(request.exePath, servedTemp.string(), error)) return false;
    uint64_t servedSize = 0;
    std::string digest;
    if (!Sha256FileHex(Utf8ToUtf16(servedTemp.string()), servedSize, digest) ||
        servedSize != size) {
        error = "cannot hash " + servedTemp.string();
        return false;
    }

    const std::string manifest = MakeLauncherManifest(request, fileName, digest, servedSize);
    std::string envelope;
    if (!CheckManifestForInstallers(manifest, request.now, error) ||
        !g_signToEnvelope(key, manifest, envelope, error) ||
        !WriteNewFile(manifestTemp.string(), envelope, 0644, error))
        return false;

    // The client first, so the new manifest never names a file that is not there yet. The old
    // manifest names another file, or this one; only a republish of the same version with other
    // bytes leaves a reader the moment between the two renames to see them disagree.
    fs::rename(servedTemp, served, ec);
    if (ec) {
        error =
            "cannot move " + servedTemp.string() + " to " + served.string() + ": " + ec.message();
        return false;
    }
    fs::rename(manifestTemp, manifestPath, ec);
    if (ec) {
        error = "cannot move " + manifestTemp.string() + " to " + manifestPath.string() + ": " +
                ec.message();
        return false;
    }
    return true;
}
