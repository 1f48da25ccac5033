#include "tools/verify.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <thread>
#include <vector>

#include "install/install_worker.h"
#include "manifest/sha256.h"
#include "net/https.h"
#include "tools/bytes.h"
#include "tools/check.h"
#include "tools/served_paths.h"

void CollectHeaderLine(std::string_view line, HeaderMap& headers) {
    if (line.substr(0, 5) == "HTTP/") {
        headers.clear();  // a new response begins (an interim 1xx, a 100 Continue, before it)
    } else if (const size_t colon = line.find(':'); colon != std::string_view::npos) {
        const std::string name = Lower(Trim(line.substr(0, colon)));
        const std::string value(Trim(line.substr(colon + 1)));
        auto [it, fresh] = headers.emplace(name, value);
        if (!fresh) it->second += ", " + value;
    }
}

namespace {

// Non-negative decimal seconds; false for anything else (an overflow saturates, as caches do).
bool ParseSeconds(std::string_view text, int64_t& seconds) {
    if (text.size() >= 2 && text.front() == '"' && text.back() == '"')
        text = text.substr(1, text.size() - 2);
    if (text.empty()) return false;
    seconds = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        seconds = seconds > (INT64_MAX - 9) / 10 ? INT64_MAX : seconds * 10 + (c - '0');
    }
    return true;
}

// An IMF-fixdate ("Sun, 06 Nov 1994 08:49:37 GMT"), the form every current server sends.
bool ParseHttpDate(const std::string& text, int64_t& when) {
    std::tm tm{};
    const char* end = strptime(text.c_str(), "%a, %d %b %Y %H:%M:%S GMT", &tm);
    if (end == nullptr || *end != '\0') return false;
    when = static_cast<int64_t>(timegm(&tm));
    return true;
}

std::string Quoted(const HeaderMap& headers, const std::string& name, const char* shown) {
    auto it = headers.find(name);
    return it == headers.end() ? std::string("no ") + shown + " header"
                               : std::string(shown) + ": " + it->second;
}

// What the lifetime rests on, quoted for a line.
std::string CachingHeaders(const HeaderMap& headers) {
    std::string text = Quoted(headers, "cache-control", "Cache-Control");
    if (headers.count("expires")) text += ", " + Quoted(headers, "expires", "Expires");
    return text;
}

size_t CollectHeader(char* data, size_t size, size_t count, void* user) {
    CollectHeaderLine(std::string_view(data, size * count),
                      static_cast<ServedFile*>(user)->headers);
    return size * count;
}

long ResponseStatus(CURL* easy) {
    long status = 0;
    curl_easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &status);
    return status;
}

struct ManifestSink {
    CURL* easy;
    ServedFile* answer;
    bool tooLarge = false;
};

size_t CollectManifest(char* data, size_t size, size_t count, void* user) {
    auto& sink = *static_cast<ManifestSink*>(user);
    const size_t n = size * count;
    // The installer tests the limit before each chunk and never holds more than it.
    if (sink.answer->body.size() + n > kManifestByteLimit) {
        sink.tooLarge = true;
        return 0;
    }
    if (ResponseStatus(sink.easy) != 200) return 0;  // only a 200's body is read
    sink.answer->body.append(data, n);
    sink.answer->bytes += n;
    return n;
}

struct PayloadSink {
    CURL* easy;
    ServedFile* answer;
    uint64_t expectedSize;
    Sha256Hasher hasher;
    bool exceeded = false;
    bool hashFailed = false;
};

size_t HashPayload(char* data, size_t size, size_t count, void* user) {
    auto& sink = *static_cast<PayloadSink*>(user);
    const size_t n = size * count;
    if (ResponseStatus(sink.easy) != 200) return 0;
    if (sink.answer->head.size() < 2)
        sink.answer->head.append(data, std::min<size_t>(n, 2 - sink.answer->head.size()));
    sink.answer->bytes += n;
    if (sink.answer->bytes > sink.expectedSize) {
        sink.exceeded = true;
        return 0;
    }
    if (!sink.hasher.ready || !sink.hasher.Update(data, n)) {
        sink.hashFailed = true;
        return 0;
    }
    return n;
}

void SetTimeouts(CURL* easy, const HttpTimeouts& timeouts) {
    // libcurl has no separate resolve phase: the two installer phases before the request become
    // one bound. A receive time-out is a stall: under one byte a second for that long.
    curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT_MS,
                     static_cast<long>(timeouts.resolveMs + timeouts.connectMs));
    curl_easy_setopt(easy, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(easy, CURLOPT_LOW_SPEED_TIME, static_cast<long>(timeouts.receiveMs / 1000));
    curl_easy_setopt(easy, CURLOPT_TIMEOUT_MS, static_cast<long>(timeouts.overallMs));
}

// Sends the GET and sorts the transfer's end into the answer's code; true when it came whole.
bool Perform(InstallerClient& client, const std::string& url, ServedFile& answer) {
    CURL* easy = client.easy.get();
    curl_easy_setopt(easy, CURLOPT_URL, url.c_str());
    curl_easy_setopt(easy, CURLOPT_HEADERFUNCTION, &CollectHeader);
    curl_easy_setopt(easy, CURLOPT_HEADERDATA, &answer);
    client.errorText[0] = '\0';
    const CURLcode result = curl_easy_perform(easy);
    answer.status = ResponseStatus(easy);
    if (answer.status != 0 && answer.status != 200) {
        answer.code = "http_" + std::to_string(answer.status);
        answer.number = answer.status;
        return false;
    }
    if (result != CURLE_OK) {
        answer.code = "transfer_failed";
        answer.number = result;
        answer.detail = client.errorText[0] ? client.errorText : curl_easy_strerror(result);
        return false;
    }
    return true;
}

void ResetAnswer(ServedFile& answer) {
    answer = ServedFile{};
}

// A 200's body hashed while it streams, stopped at the first byte past `limit`; the caller
// holds the size and digest to what it expects.
bool FetchHashed(InstallerClient& client, const std::string& url, uint64_t limit,
                 ServedFile& answer) {
    ResetAnswer(answer);
    CURL* easy = client.easy.get();
    PayloadSink sink{easy, &answer, limit, {}};
    sink.hasher.Open();
    curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &HashPayload);
    curl_easy_setopt(easy, CURLOPT_WRITEDATA, &sink);
    SetTimeouts(easy, kDownloadTimeouts);
    const bool whole = Perform(client, url, answer);
    if (answer.status == 200 && (sink.exceeded || sink.hashFailed)) {
        answer.code = sink.exceeded ? "size_exceeded" : "transfer_failed";
        answer.number = 0;
        answer.detail = sink.exceeded ? "" : "SHA-256 failed";
        return false;
    }
    if (!whole) return false;
    answer.sha256 = sink.hasher.FinishHex();
    return true;
}

// Cache-Control's directives, lower case and without spaces, in order of name: the same
// header however a server spells or orders it.
std::vector<std::string> Directives(std::string_view value) {
    std::vector<std::string> items;
    while (!value.empty()) {
        const size_t comma = value.find(',');
        std::string item;
        for (char c : Lower(Trim(value.substr(0, comma))))
            if (c != ' ' && c != '\t') item.push_back(c);
        if (!item.empty()) items.push_back(item);
        value = comma == std::string_view::npos ? std::string_view() : value.substr(comma + 1);
    }
    std::sort(items.begin(), items.end());
    return items;
}

}  // namespace

bool OpenInstallerClient(InstallerClient& client, const std::string& caFile, std::string& error) {
    client.easy.reset(curl_easy_init());
    if (!client.easy) {
        error = "libcurl could not make a handle";
        return false;
    }
    CURL* easy = client.easy.get();
    // WinHTTP sends no Accept header; curl's own "Accept: */*" is taken out.
    client.headers.reset(curl_slist_append(nullptr, "Accept:"));
    curl_easy_setopt(easy, CURLOPT_HTTPHEADER, client.headers.get());
    curl_easy_setopt(easy, CURLOPT_USERAGENT, kInstallerUserAgent);
    curl_easy_setopt(easy, CURLOPT_HTTPGET, 1L);
    curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 0L);
    curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "https");
    // Installers speak TLS 1.2 or newer; libcurl would still offer 1.0 and 1.1.
    curl_easy_setopt(easy, CURLOPT_SSLVERSION, static_cast<long>(CURL_SSLVERSION_TLSv1_2));
    curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(easy, CURLOPT_ERRORBUFFER, client.errorText);
    if (!caFile.empty()) curl_easy_setopt(easy, CURLOPT_CAINFO, caFile.c_str());
    return true;
}

bool FetchManifest(InstallerClient& client, const std::string& url, ServedFile& answer) {
    ResetAnswer(answer);
    CURL* easy = client.easy.get();
    ManifestSink sink{easy, &answer};
    curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &CollectManifest);
    curl_easy_setopt(easy, CURLOPT_WRITEDATA, &sink);
    SetTimeouts(easy, kFetchTimeouts);
    const bool whole = Perform(client, url, answer);
    if (sink.tooLarge && answer.status == 200) {
        answer.code = "response_too_large";
        answer.number = 0;
        answer.detail.clear();
        return false;
    }
    return whole;
}

bool FetchPayload(InstallerClient& client, const std::string& url, uint64_t expectedSize,
                  std::string_view expectedSha256, ServedFile& answer) {
    if (!FetchHashed(client, url, expectedSize, answer)) return false;
    if (answer.bytes != expectedSize) {
        answer.code = "size_mismatch";
        return false;
    }
    if (answer.sha256.empty() || answer.sha256 != expectedSha256) {
        answer.code = "sha256_mismatch";
        return false;
    }
    return true;
}

bool FetchInstaller(InstallerClient& client, const std::string& url, ServedFile& answer) {
    if (!FetchHashed(client, url, kInstallerByteLimit, answer)) return false;
    if (answer.sha256.empty()) {
        answer.code = "transfer_failed";
        answer.detail = "SHA-256 failed";
        return false;
    }
    return true;
}

bool ParseInstallerDigest(std::string_view body, std::string& sha256) {
    constexpr std::string_view kName = "VarnokClientSetup.exe";
    if (!body.empty() && body.back() == '\n') body.remove_suffix(1);
    if (body.size() != 64 + 2 + kName.size() ||
        (body.substr(64, 2) != "  " && body.substr(64, 2) != " *") || body.substr(66) != kName)
        return false;
    const std::string hex = Lower(body.substr(0, 64));
    if (hex.find_first_not_of("0123456789abcdef") != std::string::npos) return false;
    sha256 = hex;
    return true;
}

bool JudgeServedHeaders(std::string_view path, const HeaderMap& headers, std::string& line) {
    const std::string quoted = Quoted(headers, "content-type", "Content-Type") + ", " +
                               Quoted(headers, "cache-control", "Cache-Control");
    const ServedPath* row = ServedPathFor(path);
    if (row == nullptr) {
        line = quoted + ": " + std::string(path) + " is no path the update server serves";
        return false;
    }
    auto type = headers.find("content-type");
    auto caching = headers.find("cache-control");
    const bool held =
        type != headers.end() &&
        Lower(Trim(std::string_view(type->second).substr(0, type->second.find(';')))) ==
            row->contentType &&
        caching != headers.end() && Directives(caching->second) == Directives(row->cacheControl);
    line = quoted + (held ? ": as the served-paths table gives " + std::string(path)
                          : ": the served-paths table gives " + std::string(path) +
                                " Content-Type: " + row->contentType +
                                ", Cache-Control: " + row->cacheControl);
    return held;
}

CacheLifetime SharedCacheLifetime(const HeaderMap& headers) {
    CacheLifetime life;
    int64_t maxAge = -1;
    int64_t sharedMaxAge = -1;
    bool noCache = false;
    if (auto it = headers.find("cache-control"); it != headers.end()) {
        std::string_view rest = it->second;
        while (!rest.empty()) {
            const size_t comma = rest.find(',');
            const std::string_view item = Trim(rest.substr(0, comma));
            rest = comma == std::string_view::npos ? std::string_view() : rest.substr(comma + 1);
            const size_t eq = item.find('=');
            const std::string name = Lower(Trim(item.substr(0, eq)));
            const std::string_view value =
                eq == std::string_view::npos ? std::string_view() : Trim(item.substr(eq + 1));
            int64_t seconds = 0;
            if (name == "no-store" || (name == "private" && value.empty())) life.stored = false;
            if (name == "no-cache") noCache = true;
            if (name == "max-age" && ParseSeconds(value, seconds)) maxAge = seconds;
            if (name == "s-maxage" && ParseSeconds(value, seconds)) sharedMaxAge = seconds;
        }
    }
    if (!life.stored) return life;
    if (noCache || sharedMaxAge >= 0 || maxAge >= 0) {
        life.given = true;
        life.seconds = noCache ? 0 : sharedMaxAge >= 0 ? sharedMaxAge : maxAge;
        return life;
    }
    auto expires = headers.find("expires");
    auto date = headers.find("date");
    if (expires != headers.end()) {
        int64_t until = 0;
        int64_t at = 0;
        life.given = true;  // an Expires that does not parse means already expired
        if (ParseHttpDate(expires->second, until) && date != headers.end() &&
            ParseHttpDate(date->second, at))
            life.seconds = until > at ? until - at : 0;
    }
    return life;
}

bool JudgeManifestCaching(const HeaderMap& headers, std::string& line) {
    const CacheLifetime life = SharedCacheLifetime(headers);
    const std::string quoted = CachingHeaders(headers);
    if (!life.stored) {
        line = quoted + ": never kept by caches, so every install asks the origin";
        return true;
    }
    if (!life.given) {
        line = quoted +
               ": no lifetime given, so each cache picks its own (Varnish 120 s, some "
               "CDNs a day); give the manifest max-age of at most " +
               std::to_string(kManifestLifetimeLimitSeconds) + " s";
        return false;
    }
    if (life.seconds > kManifestLifetimeLimitSeconds) {
        line = quoted + ": caches may keep it " + std::to_string(life.seconds) +
               " s, longer than " + std::to_string(kManifestLifetimeLimitSeconds) +
               " s; a new release or a rollback would wait that long";
        return false;
    }
    line = quoted + ": kept at most " + std::to_string(life.seconds) + " s";
    return true;
}

bool ServedPastLifetime(const HeaderMap& headers, std::string& line) {
    const CacheLifetime life = SharedCacheLifetime(headers);
    auto age = headers.find("age");
    int64_t seconds = 0;
    if (!life.stored || !life.given || age == headers.end() ||
        !ParseSeconds(age->second, seconds) || seconds <= life.seconds)
        return false;
    line = "served " + std::to_string(seconds) + " s old (Age: " + age->second + ") though " +
           CachingHeaders(headers) + " allows " + std::to_string(life.seconds) +
           " s: a cache keeps it longer than the origin says";
    return true;
}

bool JudgePayloadCaching(const HeaderMap& headers, std::string& line) {
    const CacheLifetime life = SharedCacheLifetime(headers);
    const std::string quoted = CachingHeaders(headers);
    if (!life.stored || !life.given || life.seconds < kPayloadLifetimeFloorSeconds) {
        line = quoted + ": " +
               (!life.stored  ? std::string("caches may not keep it")
                : !life.given ? std::string("no lifetime given, so each cache picks its own")
                              : "caches keep it only " + std::to_string(life.seconds) + " s") +
               "; a payload never changes and needs at least " +
               std::to_string(kPayloadLifetimeFloorSeconds) +
               " s (public, max-age=31536000, immutable), or every edge asks the origin again";
        return false;
    }
    line = quoted + ": kept " + std::to_string(life.seconds) + " s";
    return true;
}

namespace {

struct Report {
    std::ostream& out;
    bool allHeld = true;

    void Line(bool held, const char* check, const std::string& text) {
        out << (held ? "PASS " : "FAIL ") << check << ": " << text << "\n";
        allHeld = allHeld && held;
    }
};

std::string Why(const ServedFile& answer) {
    std::string text = answer.code;
    if (answer.code == "transfer_failed")
        text += " (libcurl " + std::to_string(answer.number) + ": " + answer.detail + ")";
    return text;
}

std::string UtcText(int64_t when) {
    const std::time_t t = static_cast<std::time_t>(when);
    std::tm tm{};
    gmtime_r(&t, &tm);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &tm);
    return text;
}

// A served text's bytes as a line may show them: at most 100, control bytes escaped.
std::string Printable(std::string_view text) {
    std::string shown;
    for (char c : text.substr(0, 100)) {
        if (c == '\n') {
            shown += "\\n";
        } else if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f || c == '"' || c == '\\') {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\x%02x", static_cast<unsigned char>(c));
            shown += escaped;
        } else {
            shown.push_back(c);
        }
    }
    return text.size() > 100 ? shown + "..." : shown;
}

// The manifest and the payload it names, as an install fetches them.
void VerifyManifestAndPayload(const VerifyRequest& request, InstallerClient& client,
                              const std::string& base, Report& report) {
    const std::string manifestUrl = base + std::string(kManifestPath);
    ServedFile manifestAnswer;
    if (!FetchManifest(client, manifestUrl, manifestAnswer)) {
        report.Line(false, "manifest fetch", manifestUrl + ": " + Why(manifestAnswer));
        return;
    }
    report.Line(true, "manifest fetch",
                manifestUrl + ": 200, " + std::to_string(manifestAnswer.bytes) + " bytes");

    UpdateManifest manifest;
    const bool verified = VerifyAsNewInstall(manifestAnswer.body, request.publicKey, 0, manifest);
    // What the install worker takes: every check held, and a launcher to install.
    const bool usable = verified && manifest.signatureVerified && manifest.launcher.has_value();
    if (usable) {
        report.Line(true, "manifest",
                    "signed by the key, client " + manifest.launcher_version + " build " +
                        std::to_string(manifest.launcher_build) + ", published " +
                        UtcText(manifest.published_at) + ", " + manifest.launcher->url + " (" +
                        std::to_string(manifest.launcher->size_bytes) + " bytes)");
    } else {
        report.Line(false, "manifest",
                    verified ? std::string("no launcher entry: installers refuse it")
                             : manifest.errorCode + ": installers refuse it");
    }

    std::string line;
    bool cachingHeld = JudgeManifestCaching(manifestAnswer.headers, line);
    if (cachingHeld && ServedPastLifetime(manifestAnswer.headers, line)) {
        // An edge refreshing in the background may hand out one stale copy; one that ignores
        // the lifetime still does a moment later.
        std::this_thread::sleep_for(std::chrono::milliseconds(request.staleRetryMs));
        ServedFile again;
        if (!FetchManifest(client, manifestUrl, again)) {
            line += "; asked again: " + Why(again);
            cachingHeld = false;
        } else if (ServedPastLifetime(again.headers, line)) {
            cachingHeld = false;
        } else {
            // The fresh answer is what caches hand out from now on: it is judged in full.
            cachingHeld = JudgeManifestCaching(again.headers, line);
            line = "asked again: " + line;
        }
    }
    report.Line(cachingHeld, "manifest caching", line);

    if (!usable) return;
    const LauncherEntry& launcher = *manifest.launcher;
    const std::string payloadUrl = base + launcher.url;
    ServedFile payload;
    if (!FetchPayload(client, payloadUrl, launcher.size_bytes, launcher.sha256, payload)) {
        report.Line(false, "payload", payloadUrl + ": " + Why(payload));
        return;
    }
    // The installer's own look at the file once it is whole: an executable of a real size.
    if (!LooksLikeClientExe(payload.head, launcher.size_bytes)) {
        report.Line(false, "payload",
                    payloadUrl + ": not an executable (\"MZ\") of at least " +
                        std::to_string(kMinClientExeBytes) + " bytes, installers refuse it");
    } else {
        report.Line(
            true, "payload",
            payloadUrl + ": 200, " + std::to_string(payload.bytes) + " bytes, SHA-256 as signed");
    }
    report.Line(JudgePayloadCaching(payload.headers, line), "payload caching", line);
}

// What people download by hand or through winget: the installer under its stable name, the
// digest published beside it, and with a version the copy kept under that version's name.
void VerifyInstallers(const VerifyRequest& request, InstallerClient& client,
                      const std::string& base, Report& report) {
    std::string line;
    const std::string digestPath = "/VarnokClientSetup.exe.sha256";
    const std::string digestUrl = base + digestPath;
    ServedFile digestFile;
    std::string named;
    const bool digestFetched = FetchManifest(client, digestUrl, digestFile);
    if (!digestFetched) {
        report.Line(false, "installer digest", digestUrl + ": " + Why(digestFile));
    } else if (!ParseInstallerDigest(digestFile.body, named)) {
        report.Line(false, "installer digest",
                    digestUrl + ": \"" + Printable(digestFile.body) +
                        "\" is not \"<64 hex>  VarnokClientSetup.exe\"");
    } else {
        report.Line(true, "installer digest", digestUrl + ": 200, names " + named);
    }
    if (digestFetched)
        report.Line(JudgeServedHeaders(digestPath, digestFile.headers, line),
                    "installer digest headers", line);

    std::vector<std::pair<std::string, const char*>> copies = {
        {"/VarnokClientSetup.exe", "installer"}};
    if (!request.installerVersion.empty())
        copies.emplace_back("/VarnokClientSetup-" + request.installerVersion + ".exe",
                            "versioned installer");
    for (const auto& [path, check] : copies) {
        const std::string url = base + path;
        if (ServedPathFor(path) == nullptr) {
            // Not X.Y.Z: the update server serves no such name, and nothing is asked.
            report.Line(false, check,
                        url + ": \"" + Printable(request.installerVersion) +
                            "\" is no version of three numbers, the only versioned copies served");
            continue;
        }
        ServedFile copy;
        const bool fetched = FetchInstaller(client, url, copy);
        const std::string seen = url + ": 200, " + std::to_string(copy.bytes) + " bytes, SHA-256 ";
        if (!fetched)
            report.Line(false, check, url + ": " + Why(copy));
        else if (named.empty())
            report.Line(false, check, seen + copy.sha256 + ", and no digest to hold it to");
        else if (copy.sha256 != named)
            report.Line(false, check,
                        seen + copy.sha256 + ", but VarnokClientSetup.exe.sha256 names " + named);
        else
            report.Line(true, check, seen + "as VarnokClientSetup.exe.sha256 names");
        if (fetched)
            report.Line(JudgeServedHeaders(path, copy.headers, line),
                        (std::string(check) + " headers").c_str(), line);
    }
}

}  // namespace

bool VerifyServedTree(const VerifyRequest& request, std::ostream& out) {
    Report report{out};
    std::string base = request.baseUrl;
    while (!base.empty() && base.back() == '/') base.pop_back();
    InstallerClient client;
    std::string error;
    if (Lower(base.substr(0, 8)) != "https://") {
        report.Line(false, "base URL", base + " is not https; installers only take https");
        return false;
    }
    if (!OpenInstallerClient(client, request.caFile, error)) {
        report.Line(false, "manifest fetch", error);
        return false;
    }
    VerifyManifestAndPayload(request, client, base, report);
    VerifyInstallers(request, client, base, report);
    return report.allHeld;
}
