// `varnok-publish verify`: fetches a served update tree exactly as installers do (libcurl in place
// of WinHTTP, with the installer's request, limits and time-outs), checks what it gets with the
// installer's own verifier, and judges the cache headers that decide what an edge cache does with
// it; then the installer people download and the digest published beside it, held to each other
// and to the served-paths table. Host only.
#pragma once

#include <curl/curl.h>

#include <cstdint>
#include <map>
#include <ostream>
#include <string>
#include <string_view>

#include "common/unique_handle.h"
#include "manifest/update_manifest.h"

inline constexpr char kInstallerUserAgent[] = "VarnokClientSetup/1.0";
// The longest a cache may keep the manifest before verify fails the tree, and the shortest a
// payload's lifetime may be.
inline constexpr int64_t kManifestLifetimeLimitSeconds = 300;
inline constexpr int64_t kPayloadLifetimeFloorSeconds = 86400;
// The most verify reads of an installer: several times what the installer is, far short of
// what a wrong answer (a whole payload, an endless body) could hold it to.
inline constexpr uint64_t kInstallerByteLimit = 16u << 20;

using CurlEasy = UniqueHandle<CURL*, &curl_easy_cleanup>;
using CurlList = UniqueHandle<curl_slist*, &curl_slist_free_all>;

// One connection to an update server that asks the way the installer does: GET only, its user
// agent and no other headers, redirects never followed, https only, standard certificate checks
// (against `caFile` when given) and the system's proxy settings. Kept in place: curl holds a
// pointer to `errorText`.
struct InstallerClient {
    CurlEasy easy;
    CurlList headers;
    char errorText[CURL_ERROR_SIZE] = {};

    InstallerClient() = default;
    InstallerClient(const InstallerClient&) = delete;
    InstallerClient& operator=(const InstallerClient&) = delete;
};

bool OpenInstallerClient(InstallerClient& client, const std::string& caFile, std::string& error);

// Response header names in lower case; a header sent twice has its values joined by ", ".
using HeaderMap = std::map<std::string, std::string>;

// One header line of a response as libcurl hands it over: a status line starts the headers
// afresh (an interim answer came first); names are kept lower case, a repeated header joined
// with ", ".
void CollectHeaderLine(std::string_view line, HeaderMap& headers);

// One answer. `code` is empty on success, else one of "http_<status>", "response_too_large",
// "size_exceeded", "size_mismatch", "sha256_mismatch" or "transfer_failed", with `number` the
// status or libcurl's code and `detail` libcurl's own words.
struct ServedFile {
    long status = 0;
    HeaderMap headers;
    std::string body;    // the manifest's bytes; a payload is hashed, not kept
    uint64_t bytes = 0;  // body bytes received
    std::string sha256;  // of a payload that arrived whole
    std::string head;    // a payload's first two bytes
    std::string code;
    long number = 0;
    std::string detail;
};

// The manifest: the whole body in memory, at most kManifestByteLimit bytes, the fetch time-outs.
bool FetchManifest(InstallerClient& client, const std::string& url, ServedFile& answer);

// A payload, hashed while it streams and stopped at the first byte past `expectedSize`, with the
// download time-outs.
bool FetchPayload(InstallerClient& client, const std::string& url, uint64_t expectedSize,
                  std::string_view expectedSha256, ServedFile& answer);

// An installer (the stable name or a versioned copy): hashed while it streams, at most
// kInstallerByteLimit bytes, with the download time-outs.
bool FetchInstaller(InstallerClient& client, const std::string& url, ServedFile& answer);

// The digest a VarnokClientSetup.exe.sha256 names, in lower case: the file is sha256sum's one
// line "<64 hex>  VarnokClientSetup.exe" (or " *" for binary mode), as scripts/release writes it,
// so that `sha256sum -c` takes it too.
bool ParseInstallerDigest(std::string_view body, std::string& sha256);

// The Content-Type (its media type) and Cache-Control (its directives, in any order and case)
// that the served-paths table gives `path`; `line` quotes what came, and the table's when not.
bool JudgeServedHeaders(std::string_view path, const HeaderMap& headers, std::string& line);

// How long a shared cache may serve a response without asking the origin, from Cache-Control
// (s-maxage before max-age) or Expires minus Date.
struct CacheLifetime {
    bool stored = true;   // false for no-store or private
    bool given = false;   // the origin stated a lifetime (or no-cache); else caches pick one
    int64_t seconds = 0;  // 0 with no-cache: every use is asked of the origin
};
CacheLifetime SharedCacheLifetime(const HeaderMap& headers);

// The cache checks of one answer; `line` says what was found, quoting the headers it rests on.
// The manifest: a stated lifetime of at most kManifestLifetimeLimitSeconds.
bool JudgeManifestCaching(const HeaderMap& headers, std::string& line);
// The manifest was served older than its lifetime (Age past it): true with the line.
bool ServedPastLifetime(const HeaderMap& headers, std::string& line);
// A payload: stored by shared caches for at least kPayloadLifetimeFloorSeconds.
bool JudgePayloadCaching(const HeaderMap& headers, std::string& line);

struct VerifyRequest {
    std::string baseUrl;    // https origin, as the installer is built with
    std::string publicKey;  // 128 hex digits
    std::string caFile;     // empty: the system's roots
    // How long to wait before asking once more when the manifest arrives past its lifetime:
    // an edge refreshing in the background answers fresh by then.
    int staleRetryMs = 1500;
    // Also the versioned copy VarnokClientSetup-<version>.exe, what winget downloads; empty: not.
    std::string installerVersion;
};

// Runs every check, printing one line each ("PASS <check>: ..." or "FAIL <check>: ..."). True
// only when all hold.
bool VerifyServedTree(const VerifyRequest& request, std::ostream& out);
