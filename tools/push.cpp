#include "tools/push.h"

#include <openssl/evp.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <iomanip>
#include <sstream>
#include <vector>

#include <nlohmann/json.hpp>

#include "tools/check.h"
#include "tools/history.h"
#include "tools/key_files.h"
#include "tools/keys.h"
#include "tools/s3.h"
#include "tools/served_paths.h"

namespace fs = std::filesystem;

namespace {

constexpr char kInstaller[] = "VarnokClientSetup.exe";
// Payloads from here on get a progress line now and then while they go out.
constexpr uint64_t kProgressBytes = 16u << 20;

using UniqueDigest = UniqueHandle<EVP_MD_CTX*, &EVP_MD_CTX_free>;
using UniqueFile = UniqueHandle<FILE*, &fclose>;

// One file of the tree and what the bucket is to hold under its key: sent from the handle it was
// hashed through (or, for what is small, from the bytes held), never opened again by its path.
struct LocalObject {
    std::string key;  // the served path without its leading "/", before the bucket's prefix
    std::string path;
    const ServedPath* row = nullptr;
    UniqueFile file;
    std::string bytes;  // the body itself, when `file` is empty
    uint64_t size = 0;
    std::string sha256, md5;
};

std::string Hex(const unsigned char* bytes, unsigned length) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (unsigned i = 0; i < length; ++i) {
        out += digits[bytes[i] >> 4];
        out += digits[bytes[i] & 15];
    }
    return out;
}

// SHA-256 (what the object records) and MD5 (what a store gives as the ETag of a single PUT) in
// one pass over the body.
struct Digests {
    UniqueDigest sha{EVP_MD_CTX_new()}, md5{EVP_MD_CTX_new()};
    bool Open() {
        return sha && md5 && EVP_DigestInit_ex(sha.get(), EVP_sha256(), nullptr) &&
               EVP_DigestInit_ex(md5.get(), EVP_md5(), nullptr);
    }
    void Update(const void* data, size_t n) {
        EVP_DigestUpdate(sha.get(), data, n);
        EVP_DigestUpdate(md5.get(), data, n);
    }
    bool Finish(LocalObject& object) {
        unsigned char digest[EVP_MAX_MD_SIZE];
        unsigned length = 0;
        if (!EVP_DigestFinal_ex(sha.get(), digest, &length)) return false;
        object.sha256 = Hex(digest, length);
        if (!EVP_DigestFinal_ex(md5.get(), digest, &length)) return false;
        object.md5 = Hex(digest, length);
        return true;
    }
};

// Hashes the body: `object.bytes` when `inMemory`, else the file, whose handle is kept to send
// from.
bool HashObject(LocalObject& object, bool inMemory, std::string& error) {
    Digests digests;
    if (!digests.Open()) {
        error = "no SHA-256 or MD5 provider";
        return false;
    }
    if (inMemory) {
        digests.Update(object.bytes.data(), object.bytes.size());
        object.size = object.bytes.size();
        return digests.Finish(object);
    }
    object.file.reset(fopen(object.path.c_str(), "rb"));
    if (!object.file) {
        error = "cannot read " + object.path;
        return false;
    }
    std::vector<unsigned char> buffer(1 << 20);
    object.size = 0;
    for (size_t n; (n = fread(buffer.data(), 1, buffer.size(), object.file.get())) > 0;) {
        digests.Update(buffer.data(), n);
        object.size += n;
    }
    if (ferror(object.file.get()) || !digests.Finish(object)) {
        error = "cannot read " + object.path;
        return false;
    }
    return true;
}

// The tree judged as `check` judges it, under the key given; `envelope` receives the very
// manifest bytes that were judged, the ones that will be sent.
bool CheckTree(const PushRequest& request, std::string& keyHex, std::string& summary,
               std::string& envelope, std::string& error) {
    if (request.publicKey.empty()) {
        error =
            "--pub is required: the key installers are built with (without it a tree signed by "
            "any key, a staging one too, would pass) (public_key_required)";
        return false;
    }
    CheckRequest check{request.treeDir, request.publicKey, request.now};
    return ReadPublicKeyHex(request.publicKey, keyHex, error) &&
           CheckUpdateTree(check, summary, error, &envelope);
}

// What the checked manifest names: its payload under api/updates/files/, size and SHA-256.
struct NamedPayload {
    std::string key;
    uint64_t size = 0;
    std::string sha256;
};

NamedPayload ManifestPayload(const std::string& envelope) {
    const nlohmann::json value = nlohmann::json::parse(envelope);
    const nlohmann::json launcher =
        nlohmann::json::parse(value.at("manifest_json").get<std::string>()).at("launcher");
    return {launcher.at("url").get<std::string>().substr(1),
            launcher.at("size_bytes").get<uint64_t>(), launcher.at("sha256").get<std::string>()};
}

// Adds the tree's file under `key` (or `bytes` in its place, already read) unless it is there.
bool AddObject(std::vector<LocalObject>& objects, const std::string& treeDir,
               const std::string& key, std::string& error, const std::string* bytes = nullptr) {
    for (const LocalObject& known : objects)
        if (known.key == key) return true;
    LocalObject object;
    object.key = key;
    object.path = treeDir + "/" + key;
    object.row = ServedPathFor("/" + key);
    if (object.row == nullptr) {
        error = key + " is not a path the update server serves";
        return false;
    }
    if (bytes) object.bytes = *bytes;
    if (!HashObject(object, bytes != nullptr, error)) return false;
    objects.push_back(std::move(object));
    return true;
}

const LocalObject* Find(const std::vector<LocalObject>& objects, const std::string& key) {
    for (const LocalObject& object : objects)
        if (object.key == key) return &object;
    return nullptr;
}

// Everything to upload, in upload order, hashed before anything goes out.
bool CollectObjects(const PushRequest& request, const std::string& envelope,
                    std::vector<LocalObject>& objects, std::ostream& out, std::string& error) {
    const std::string updates = request.treeDir + "/api/updates";
    std::vector<PublishedEntry> history;
    if (!ReadHistory(updates, history, error)) return false;
    for (const PublishedEntry& entry : history) {
        const std::string key = "api/updates/files/" + entry.file;
        if (fs::is_regular_file(request.treeDir + "/" + key)) {
            if (!AddObject(objects, request.treeDir, key, error)) return false;
            // Stored once, a payload is served for good: it must still be what was published.
            const LocalObject& added = *Find(objects, key);
            if (added.size != entry.size_bytes || added.sha256 != entry.sha256) {
                error = added.path + " has " + std::to_string(added.size) + " bytes with SHA-256 " +
                        added.sha256 + "; the history published " +
                        std::to_string(entry.size_bytes) + " bytes with SHA-256 " + entry.sha256;
                return false;
            }
        } else {
            out << "not in the tree  " << key << " (pruned: the bucket keeps what it has)\n";
        }
    }
    // The payload as hashed here, not only as `check` read it a moment ago, is the one the
    // manifest names.
    const NamedPayload named = ManifestPayload(envelope);
    if (!AddObject(objects, request.treeDir, named.key, error)) return false;
    const LocalObject& payload = *Find(objects, named.key);
    if (payload.size != named.size || payload.sha256 != named.sha256) {
        error = payload.path + " has " + std::to_string(payload.size) + " bytes with SHA-256 " +
                payload.sha256 + " now; the manifest names " + std::to_string(named.size) +
                " bytes with SHA-256 " + named.sha256 + " (changed_while_sending)";
        return false;
    }

    std::vector<std::string> copies;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(request.treeDir, ec)) {
        const std::string name = entry.path().filename().string();
        const ServedPath* row = ServedPathFor("/" + name);
        if (entry.is_regular_file() && row != nullptr && row->location[0] == '~')
            copies.push_back(name);
    }
    std::sort(copies.begin(), copies.end());
    for (const std::string& name : copies)
        if (!AddObject(objects, request.treeDir, name, error)) return false;

    const std::string installer = request.treeDir + "/" + kInstaller;
    if (fs::exists(installer)) {
        if (!AddObject(objects, request.treeDir, kInstaller, error)) return false;
        // The digest file goes out as the bytes compared here.
        std::string line;
        const std::string expected = Find(objects, kInstaller)->sha256 + "  " + kInstaller + "\n";
        if (!ReadWholeFile(installer + ".sha256", line, error) || line != expected) {
            error = installer + ".sha256 does not hold \"" + expected.substr(0, 64) + "  " +
                    kInstaller + "\", the installer's digest: run scripts/release again";
            return false;
        }
        if (!AddObject(objects, request.treeDir, std::string(kInstaller) + ".sha256", error, &line))
            return false;
    }
    return AddObject(objects, request.treeDir, "api/updates/manifest", error, &envelope);
}

std::string Header(const S3Answer& answer, const std::string& name) {
    auto it = answer.headers.find(name);
    return it == answer.headers.end() ? "" : it->second;
}

bool SameHeaders(const S3Answer& head, const LocalObject& object) {
    return Header(head, "content-type") == object.row->contentType &&
           Header(head, "cache-control") == object.row->cacheControl;
}

std::string Seconds(std::chrono::steady_clock::time_point since) {
    std::ostringstream text;
    text << std::fixed << std::setprecision(2)
         << std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count() << " s";
    return text.str();
}

std::string Failed(const S3Target& target, const char* method, const std::string& key,
                   const S3Answer& answer) {
    std::string text = std::string(method) + " s3://" + target.bucket + "/" + target.prefix + key +
                       ": " + DescribeAnswer(answer);
    if (answer.status == 401 || answer.status == 403)
        text +=
            " (the store refused the credentials: check AWS_ACCESS_KEY_ID and "
            "AWS_SECRET_ACCESS_KEY, the region, and that they may read and write this "
            "bucket)";
    return text;
}

std::string ETagOf(const S3Answer& head) {
    std::string etag = Header(head, "etag");
    etag.erase(std::remove(etag.begin(), etag.end(), '"'), etag.end());
    return etag;
}

bool IsPlainMd5(const std::string& etag) {
    return etag.size() == 32 && etag.find_first_not_of("0123456789abcdef") == std::string::npos;
}

std::string OtherBytes(const S3Target& target, const LocalObject& object, const S3Answer& head,
                       const std::string& stored) {
    return "refused: s3://" + target.bucket + "/" + target.prefix + object.key + " holds " +
           Header(head, "content-length") + " bytes with SHA-256 " +
           (stored.empty() ? "(not read: too large)" : stored) + ", the tree has " +
           std::to_string(object.size) + " bytes with SHA-256 " + object.sha256 +
           ". An object under this name is never replaced";
}

// After a PUT, what the store holds: the size, the recorded SHA-256 (the store checked the body
// against the signed x-amz-content-sha256 as it came in) and, where the ETag is the body's MD5 as
// S3 gives it for one PUT, that too.
bool StoredAsSent(const S3Target& target, const LocalObject& object, std::string& error) {
    S3Answer head;
    if (!S3Head(target, object.key, head) || head.status != 200) {
        error = Failed(target, "HEAD", object.key, head);
        return false;
    }
    const std::string etag = ETagOf(head);
    if (Header(head, "content-length") == std::to_string(object.size) &&
        Header(head, "x-amz-meta-sha256") == object.sha256 && SameHeaders(head, object) &&
        (etag.size() != 32 || etag == object.md5))
        return true;
    error = "s3://" + target.bucket + "/" + target.prefix + object.key + " was stored as " +
            Header(head, "content-length") + " bytes, SHA-256 " +
            Header(head, "x-amz-meta-sha256") + ", ETag " + etag + ", Content-Type " +
            Header(head, "content-type") + ", Cache-Control " + Header(head, "cache-control") +
            "; it was sent as " + std::to_string(object.size) + " bytes, SHA-256 " + object.sha256 +
            ", MD5 " + object.md5 + ", " + object.row->contentType + ", " +
            object.row->cacheControl;
    return false;
}

// One line per object: what became of it, its bytes and the seconds it took.
void Report(std::ostream& out, const char* outcome, const LocalObject& object,
            std::chrono::steady_clock::time_point start) {
    out << std::left << std::setw(17) << outcome << object.key << " (" << object.size << " bytes, "
        << Seconds(start) << ")\n"
        << std::flush;
}

enum class Found { absent, same, other };

// What the bucket holds under the object's key, compared with the tree's file by its bytes and
// never by what the object says of itself (metadata is whatever its writer set): the same when
// the ETag is the file's MD5, as a single PUT's is; otherwise read back and hashed (a multipart
// or encrypted object's ETag is no MD5), unless it is an object that is simply replaced.
// `head` and `stored` (the SHA-256 read back) for the report.
bool Compare(const S3Target& target, const LocalObject& object, Found& found, S3Answer& head,
             std::string& stored, std::string& error) {
    if (!S3Head(target, object.key, head) || (head.status != 200 && head.status != 404)) {
        error = Failed(target, "HEAD", object.key, head);
        return false;
    }
    found = Found::absent;
    stored.clear();
    if (head.status == 404) return true;
    const bool sameSize = Header(head, "content-length") == std::to_string(object.size);
    const std::string etag = ETagOf(head);
    found = Found::other;
    if (sameSize && etag == object.md5) {
        found = Found::same;
        stored = object.sha256;
        return true;
    }
    if ((IsPlainMd5(etag) && !object.row->immutable) || Header(head, "content-length").size() > 9)
        return true;
    S3Answer get;
    if (!S3ReadSha256(target, object.key, stored, get)) {
        error = Failed(target, "GET", object.key, get);
        return false;
    }
    if (sameSize && stored == object.sha256) found = Found::same;
    return true;
}

struct Totals {
    size_t uploaded = 0;
    size_t headersSet = 0;
    uint64_t bytes = 0;
};

// The tree's bytes under other headers (another tool uploaded them: `aws s3 cp` sets no
// Cache-Control and guesses a Content-Type): a copy of the object onto itself with the table's
// headers. A copy never changes the bytes (an immutable name stays safe); a HEAD must then show
// the headers, and an ETag that is the file's MD5 or the one just compared, so that an object
// another writer replaced meanwhile is not taken for the one checked.
bool SetHeaders(const S3Target& target, const LocalObject& object, const S3Answer& head,
                std::ostream& out, Totals& totals, std::chrono::steady_clock::time_point start,
                std::string& error) {
    S3Upload headers;
    headers.size = object.size;
    headers.sha256 = object.sha256;
    headers.contentType = object.row->contentType;
    headers.cacheControl = object.row->cacheControl;
    S3Answer copy, after;
    if (!S3ReplaceHeaders(target, object.key, headers, copy)) {
        error = Failed(target, "COPY", object.key, copy);
        return false;
    }
    if (!S3Head(target, object.key, after) || after.status != 200) {
        error = Failed(target, "HEAD", object.key, after);
        return false;
    }
    if (ETagOf(after) != object.md5 && ETagOf(after) != ETagOf(head)) {
        error = "s3://" + target.bucket + "/" + target.prefix + object.key +
                " changed while push gave it its headers: its ETag was " + ETagOf(head) + ", now " +
                ETagOf(after) + " (object_changed)";
        return false;
    }
    if (Header(after, "content-length") != std::to_string(object.size) ||
        !SameHeaders(after, object)) {
        error = "s3://" + target.bucket + "/" + target.prefix + object.key +
                " was copied onto itself with Content-Type " + object.row->contentType +
                " and Cache-Control " + object.row->cacheControl + ", but a HEAD shows " +
                Header(after, "content-length") + " bytes, Content-Type " +
                Header(after, "content-type") + ", Cache-Control " +
                Header(after, "cache-control") + " (headers_not_set)";
        return false;
    }
    totals.headersSet += 1;
    Report(out, "headers set", object, start);
    return true;
}

// One object: left alone when the bucket has its bytes and headers, given the headers when only
// they differ, refused when an object that never changes holds other bytes, otherwise uploaded
// and read back.

bool PushObject(const S3Target& target, const LocalObject& object, bool dryRun, std::ostream& out,
                Totals& totals, std::string& error) {
    const auto start = std::chrono::steady_clock::now();
    S3Answer head;
    std::string stored;
    Found found;
    if (!Compare(target, object, found, head, stored, error)) return false;
    if (found == Found::same && SameHeaders(head, object)) {
        Report(out, "already there", object, start);
        return true;
    }
    if (found == Found::other && object.row->immutable) {
        Report(out, dryRun ? "would refuse" : "refused", object, start);
        error = OtherBytes(target, object, head, stored);
        return false;
    }
    // A dry run has asked all it asks (HEAD, and GET for what must be read back): it says what
    // the push would do and writes nothing.
    if (dryRun) {
        (found == Found::same ? totals.headersSet : totals.uploaded) += 1;
        if (found != Found::same) totals.bytes += object.size;
        Report(out, found == Found::same ? "would copy" : "would upload", object, start);
        return true;
    }
    if (found == Found::same) return SetHeaders(target, object, head, out, totals, start, error);
    S3Upload upload;
    upload.file = object.file.get();
    upload.bytes = object.file ? nullptr : &object.bytes;
    upload.size = object.size;
    upload.sha256 = object.sha256;
    upload.contentType = object.row->contentType;
    upload.cacheControl = object.row->cacheControl;
    upload.onlyIfAbsent = object.row->immutable;
    uint64_t nextReport = kProgressBytes;
    if (object.size >= kProgressBytes) {
        upload.progress = [&](uint64_t sent) {
            if (sent < nextReport || sent >= object.size) return;
            out << "  sending " << object.key << ": " << sent / 1048576 << " of "
                << object.size / 1048576 << " MiB, " << Seconds(start) << "\n"
                << std::flush;
            nextReport = sent + kProgressBytes;
        };
    }
    S3Answer put;
    if (!S3Put(target, object.key, upload, put) || (put.status != 200 && put.status != 412)) {
        if (put.detail.find("(changed_while_sending)") != std::string::npos)
            Report(out, "refused", object, start);
        error = Failed(target, "PUT", object.key, put);
        return false;
    }
    if (put.status == 412) {
        // Someone stored it between our HEAD and PUT: the same bytes are as good as ours.
        if (!Compare(target, object, found, head, stored, error)) return false;
        if (found != Found::same) {
            Report(out, "refused", object, start);
            error = OtherBytes(target, object, head, stored);
            return false;
        }
        if (!SameHeaders(head, object))
            return SetHeaders(target, object, head, out, totals, start, error);
        Report(out, "already there", object, start);
        return true;
    }
    if (!StoredAsSent(target, object, error)) return false;
    totals.uploaded += 1;
    totals.bytes += object.size;
    Report(out, "uploaded", object, start);
    return true;
}

// What a HEAD shows of the bucket's manifest right now, for a push that stopped: the only word
// on what installers are being given.
std::string LiveManifest(const S3Target& target, const LocalObject& manifest) {
    S3Answer head;
    if (!S3Head(target, manifest.key, head) || (head.status != 200 && head.status != 404))
        return "what manifest the bucket holds could not be asked: " +
               Failed(target, "HEAD", manifest.key, head);
    if (head.status == 404) return "a HEAD shows no manifest in the bucket";
    if (Header(head, "content-length") == std::to_string(manifest.size) &&
        ETagOf(head) == manifest.md5)
        return "a HEAD shows this tree's manifest in the bucket";
    return "a HEAD shows a manifest in the bucket that is not this tree's (" +
           Header(head, "content-length") + " bytes, ETag " + ETagOf(head) + ")";
}

}  // namespace

bool PushTree(const PushRequest& request, std::ostream& out, std::string& error) {
    S3Target target;
    target.virtualHost = request.virtualHost;
    target.caFile = request.caFile;
    const std::string endpoint =
        request.endpoint.empty() ? EndpointFromEnvironment() : request.endpoint;
    if (endpoint.empty()) {
        error =
            "no endpoint: give --endpoint <URL>, or set AWS_ENDPOINT_URL_S3 or AWS_ENDPOINT_URL";
        return false;
    }
    if (!ParseS3Target(request.to, endpoint, request.allowHttp, target, error) ||
        !CredentialsFromEnvironment(request.region, target, error))
        return false;
    // Held to the end: a publish or prune meanwhile would change the tree under the push.
    const FileOwner lock = LockUpdatesDir(request.treeDir + "/api/updates", error, false);
    std::string keyHex, summary, envelope;
    if (!lock || !CheckTree(request, keyHex, summary, envelope, error)) {
        error = "nothing was uploaded: " + error;
        return false;
    }
    out << summary << "\n";
    std::vector<LocalObject> objects;
    if (!CollectObjects(request, envelope, objects, out, error)) {
        error = "nothing was uploaded: " + error;
        return false;
    }
    const auto start = std::chrono::steady_clock::now();
    Totals totals;
    for (const LocalObject& object : objects) {
        if (!PushObject(target, object, request.dryRun, out, totals, error)) {
            error += (totals.uploaded == 0
                          ? " (nothing was uploaded; "
                          : " (" + std::to_string(totals.uploaded) + " objects were uploaded; ") +
                     LiveManifest(target, objects.back()) + ")";
            return false;
        }
    }
    if (request.dryRun) {
        out << "dry run: of " << objects.size() << " objects for s3://" << target.bucket << "/"
            << target.prefix << ", " << totals.uploaded << " would be uploaded (" << totals.bytes
            << " bytes), " << totals.headersSet
            << " would be given their headers by a copy onto themselves, "
            << objects.size() - totals.uploaded - totals.headersSet
            << " are already there; nothing was written\n";
        return true;
    }
    out << "pushed " << objects.size() << " objects to s3://" << target.bucket << "/"
        << target.prefix << ": " << totals.uploaded << " uploaded (" << totals.bytes << " bytes), "
        << totals.headersSet << " given their headers, "
        << objects.size() - totals.uploaded - totals.headersSet << " already there, "
        << Seconds(start) << "\n";
    if (request.verifyUrl.empty()) return true;
    VerifyRequest verify;
    verify.baseUrl = request.verifyUrl;
    verify.publicKey = keyHex;
    verify.caFile = request.caFile;
    if (VerifyServedTree(verify, out)) return true;
    error = "the objects are in place, but verify failed against " + request.verifyUrl;
    return false;
}
