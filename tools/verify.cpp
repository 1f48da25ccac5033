#include "tools/verify.h"

#include <algorithm>
#include <chrono>
#include <ctime>
#include <thread>

#include "install/install_worker.h"
#include "manifest/sha256.h"
#include "net/https.h"
#include "tools/bytes.h"
#include "tools/check.h"

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
    ResetAnswer(answer);
    CURL* easy = client.easy.get();
    PayloadSink sink{easy, &answer, expectedSize, {}};
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
    if (answer.bytes != expectedSize) {
        answer.code = "size_mismatch";
        return false;
    }
    answer.sha256 = sink.hasher.FinishHex();
    if (answer.sha256.empty() || answer.sha256 != expectedSha256) {
        answer.code = "sha256_mismatch";
        return false;
    }
    return true;
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

    const std::string manifestUrl = base + std::string(kManifestPath);
    ServedFile manifestAnswer;
    if (!FetchManifest(client, manifestUrl, manifestAnswer)) {
        report.Line(false, "manifest fetch", manifestUrl + ": " + Why(manifestAnswer));
        return false;
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

    if (!usable) return false;
    const LauncherEntry& launcher = *manifest.launcher;
    const std::string payloadUrl = base + launcher.url;
    ServedFile payload;
    if (!FetchPayload(client, payloadUrl, launcher.size_bytes, launcher.sha256, payload)) {
        report.Line(false, "payload", payloadUrl + ": " + Why(payload));
        return false;
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
    return report.allHeld;
}
